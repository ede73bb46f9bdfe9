#pragma once
// The toolkits the contract suite runs over: the headless one always, Qt where the tree
// builds it (on the offscreen platform), Win32 in the Windows tree (under Wine).
#include <gtest/gtest.h>

#include <string>

#include "toolkit/contract/HeadlessDriver.h"
#if defined(TARNSET_CONTRACT_QT)
#include "toolkit/contract/QtDriver.h"
#endif
#if defined(TARNSET_CONTRACT_WIN32)
#include "toolkit/contract/Win32Driver.h"
#endif

namespace tarnset::contract {

using Drivers = ::testing::Types<HeadlessDriver
#if defined(TARNSET_CONTRACT_QT)
                                 ,
                                 QtDriver
#endif
#if defined(TARNSET_CONTRACT_WIN32)
                                 ,
                                 Win32Driver
#endif
                                 >;

// The cases are named after the toolkit: ToolkitContract/qt.Name.
struct DriverName {
  template <class D>
  static std::string GetName(int /*index*/) {
    return D::kName;
  }
};

}  // namespace tarnset::contract

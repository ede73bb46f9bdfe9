// The serial host over a real pseudo-terminal and the headless event loop.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include "link/frmCom.h"
#include "platform/posix/PosixSerialPort.h"
#include "toolkit/headless/HeadlessToolkit.h"
#include "unit/link/LinkFakes.h"

namespace tarnset {
namespace {

using test::FixedResolver;
using test::RecordingOwner;
using Calls = std::vector<std::string>;

TEST(FrmComOverPty, TheEventLoopDeliversBytesAndAClosedFarEndIsReportedOnce) {
  const int master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
  ASSERT_GE(master, 0);
  ASSERT_EQ(grantpt(master), 0);
  ASSERT_EQ(unlockpt(master), 0);
  ManualTickSource clock;
  HeadlessToolkit toolkit{clock};
  PosixSerialPort port;
  FixedResolver resolver;
  resolver.devices = {{1, ptsname(master)}};
  RecordingOwner owner;
  frmCom com{toolkit, port, resolver, clock};
  com.setOwner(&owner);

  com.setComOpen(true);
  ASSERT_TRUE(com.comOpen()) << com.failureReason();
  ASSERT_EQ(::write(master, "\xFE\xFE", 2), 2);
  for (int i = 0; i < 50 && owner.calls.empty(); ++i) toolkit.waitWatches(20);
  EXPECT_EQ(owner.calls, (Calls{"task"}));  // the receive event ran a tick

  ::close(master);
  for (int i = 0; i < 50 && com.comOpen(); ++i) toolkit.waitWatches(20);
  EXPECT_TRUE(com.errCannotOpen());
  EXPECT_EQ(com.failureReason(), "the device went away");
  EXPECT_EQ(toolkit.waitWatches(0), 0);
}

}  // namespace
}  // namespace tarnset

#include "ProgramHarness.h"

#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

#include "base/Checked16.h"
#include "base/Common.h"
#include "clone/clsCmcDornSequence.h"
#include "link/frmCom.h"
#include "model/clsIndOp_RigTarn.h"
#include "shell/frmMain.h"

namespace tarnset::testing {
namespace {

void writeFile(const std::filesystem::path& p, const std::string& text) {
  std::ofstream out(p, std::ios::binary);
  out << text;
}

std::string hexOf(const kvsim::Bytes& b, std::size_t from, std::size_t to) {
  if (from >= b.size()) return {};
  return BytesToHex(Bytes(b.begin() + static_cast<std::ptrdiff_t>(from),
                          b.begin() + static_cast<std::ptrdiff_t>(std::min(to, b.size()))));
}

}  // namespace

TempFolder::TempFolder() {
  std::random_device rd;
  path_ = std::filesystem::temp_directory_path() /
          ("tarnset-test-" + std::to_string(rd()) + std::to_string(rd()));
  std::filesystem::create_directories(path_);
}

TempFolder::~TempFolder() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

std::string standardConstFile() {
  std::ifstream in(TARNSET_SOURCE_DIR "/Const.ini", std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

ProgramHarness::ProgramHarness(HarnessOptions opt)
    : opt_(std::move(opt)), toolkit_(clock_), radio_(opt_.radio), port_(radio_, nowUs_) {
  if (!opt_.constFile.empty()) writeFile(folder_.path() / "Const.ini", opt_.constFile);
  if (!opt_.optionsFile.empty()) writeFile(optionsPath(), opt_.optionsFile);
  ProgramConfig config;
  config.optionsFile = optionsPath().string();
  config.constFile = (folder_.path() / "Const.ini").string();
  config.constFileCopyFolder = opt_.constFileCopyFolder;
  if (opt_.backups) config.backupFolder = backupFolder().string() + "/";
  config.wallClock = [this] { return wallTime(); };
  config.programVersion = "tarnset-adj test (Tarnset ADJ Rev.1.2)";
  // Without a bench no instruments are set up, and no Limits.ini is found.
  config.instrumentsFile = (folder_.path() / "Instruments.ini").string();
  config.limitsFile = (folder_.path() / "Limits.ini").string();
  if (opt_.bench) {
    bench_ = std::make_unique<kvsim::VirtualBench>(radio_, opt_.benchOptions);
    benchLinks_ = std::make_unique<BenchLoopbackFactory>(*bench_, nowUs_);
    config.instrumentLinks = benchLinks_.get();
    writeFile(
        config.instrumentsFile,
        opt_.instrumentsFile.empty()
            ? "[Virtual bench]\nAddress=TCPIP::127.0.0.1::5025::SOCKET\nRoles=generator, counter, power, "
              "deviation\nProfile=kv-tarn-bench\nSettleMs=350\nTimeoutMs=1000\nCalibrationDue=2027-06-30\n"
            : opt_.instrumentsFile);
    if (opt_.limitsFile.empty()) {
      std::ifstream in(TARNSET_SOURCE_DIR "/Limits.ini", std::ios::binary);
      std::stringstream text;
      text << in.rdbuf();
      writeFile(config.limitsFile, text.str());
    } else {
      writeFile(config.limitsFile, opt_.limitsFile);
    }
  }
  if (!opt_.traceFile.empty()) {
    trace_ = std::make_unique<TraceFile>(clock_);
    std::string why;
    if (!trace_->open(opt_.traceFile, "program test", why)) throw std::runtime_error("trace file: " + why);
    config.trace = trace_.get();
  }
  program_ = std::make_unique<Program>(toolkit_, clock_, port_,
                                       opt_.resolver != nullptr ? *opt_.resolver : resolver_, config);
  if (opt_.startProgram) startUp();
}

ProgramHarness::~ProgramHarness() {
  program_.reset();
}

int ProgramHarness::startUp(const SingleInstance* guard) {
  startResult_ = program_->startUp(guard);
  return startResult_;
}

void ProgramHarness::advance(std::int32_t ms) {
  for (std::int32_t i = 0; i < ms; ++i) {
    nowUs_ += 1000;
    clock_.advance(1);
    port_.pump();
    if (opt_.runPostedWork) toolkit_.runPosted();
    toolkit_.runDueTimers();
  }
}

bool ProgramHarness::runUntil(const std::function<bool()>& pred, std::int32_t maxMs) {
  for (std::int32_t i = 0; i < maxMs; ++i) {
    if (pred()) return true;
    advance(1);
  }
  return pred();
}

bool ProgramHarness::connect(std::int32_t maxMs) {
  clsIndOp_RigTarn& c = program_->controller();
  toolkit_.click(program_->mainWindow().cmd00(0));
  // Through the clone read, the first monitor pass and the sending of every item loaded
  // from the image: the controller rests in state 25 at the end of that tick.
  return runUntil([&] { return c.opState() == TarnState::CycleEnd; }, maxMs);
}

std::vector<kvsim::FrameRecord> ProgramHarness::takeFrames() {
  const auto& frames = radio_.frames();
  // The radio keeps a bounded history: what is new is counted from its end (frames that
  // left the history before this call are lost to it, and the test would see fewer).
  const std::uint64_t fresh = radio_.framesRecorded() - framesSeen_;
  const std::size_t total = frames.size();
  const std::size_t start = fresh < total ? total - static_cast<std::size_t>(fresh) : 0;
  framesSeen_ = radio_.framesRecorded();
  return {frames.begin() + static_cast<std::ptrdiff_t>(start), frames.end()};
}

std::vector<std::string> ProgramHarness::takeE8Commands() {
  std::vector<std::string> out;
  for (const kvsim::FrameRecord& f : takeFrames()) {
    // FE FE EE EF E8 26 51 01 00 <code> <hi> <lo> FD
    if (f.fromRadio || f.command() != 0xE8) continue;
    out.push_back(hexOf(f.bytes, 9, f.bytes.size() - 1));
  }
  return out;
}

}  // namespace tarnset::testing

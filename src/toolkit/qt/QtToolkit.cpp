#include "toolkit/qt/QtToolkit.h"

#include <QAbstractTextDocumentLayout>
#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMenuBar>
#include <QMessageBox>
#include <QPageLayout>
#include <QPdfWriter>
#include <QSaveFile>
#include <QScreen>
#include <QSessionManager>
#include <QSocketNotifier>
#include <QStyle>
#include <QStyleFactory>
#include <QTextDocument>
#include <QThread>
#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "toolkit/core/FileFilters.h"
#include "toolkit/qt/QtControls.h"
#include "toolkit/qt/QtWindow.h"

#if defined(__SANITIZE_ADDRESS__)
// The system's font configuration and message bus libraries keep what they set up until
// the process ends; every program with this toolkit would otherwise fail a leak-checking
// build for memory that is not its own.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libfontconfig.so\nleak:libdbus-1.so\n";
}
#endif

namespace tarnset {

namespace qtk {

// Gives every main window its key preview. Installed on the application, it sees a key
// press before any widget; it acts only on the press's first receiver (the window's
// focus widget, or the window itself), not again while Qt passes an unused key up to
// the parents, and leaves the menu bar's own keyboard navigation alone.
class KeyRouter final : public QObject {
 public:
  explicit KeyRouter(Env& env) : env_(env) {}

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() != QEvent::KeyPress || !watched->isWidgetType()) return false;
    auto* receiver = static_cast<QWidget*>(watched);
    QWidget* top = receiver->window();
    for (WindowSide* w : env_.windows) {
      if (w->topWidget() != top) continue;
      QWidget* first = top->focusWidget() != nullptr ? top->focusWidget() : top;
      if (receiver != first) return false;
      if (qobject_cast<QMenuBar*>(receiver) != nullptr) return false;
      return w->routeKey(receiver, static_cast<QKeyEvent*>(event));
    }
    return false;
  }

 private:
  Env& env_;
};

// A watch with the notifier of its descriptor; paused while a modal dialog is open.
class WatchAdapter final : public tk::WatchCore {
 public:
  WatchAdapter(tk::EventCore& core, Env& env, Waitable fd, std::function<void()> onReady)
      : WatchCore(core, fd, std::move(onReady)),
        env_(env),
        notifier_(static_cast<int>(fd), QSocketNotifier::Read) {
    QObject::connect(&notifier_, &QSocketNotifier::activated, &notifier_, [this] { core_.fireWatch(id()); });
    notifier_.setEnabled(!core_.held());
    env_.watches.push_back(this);
  }
  ~WatchAdapter() override { std::erase(env_.watches, this); }
  void setActive(bool on) { notifier_.setEnabled(on); }

 private:
  Env& env_;
  QSocketNotifier notifier_;
};

}  // namespace qtk

namespace {

QScreen* primaryScreen() {
  return QGuiApplication::primaryScreen();
}

// Paths are UTF-8 in the program.
QString pathToQt(const std::string& path) {
  return QString::fromUtf8(path.data(), static_cast<qsizetype>(path.size()));
}

std::string pathFromQt(const QString& path) {
  const QByteArray bytes = path.toUtf8();
  return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

// "PDF document (*.pdf)", as QFileDialog lists a filter.
QString nameFilterOf(const tk::FileFilter& filter) {
  QStringList patterns;
  for (const auto& p : filter.patterns) patterns << qtk::toQt(p);
  return qtk::toQt(filter.name) + QStringLiteral(" (") + patterns.join(QLatin1Char(' ')) + QLatin1Char(')');
}

// A save dialog that gives a name typed without an extension the extension of the
// filter selected at the moment it is accepted (before it checks for an existing file).
class SaveDialog final : public QFileDialog {
 public:
  SaveDialog(QWidget* parent, const QString& caption, const std::vector<tk::FileFilter>& filters)
      : QFileDialog(parent, caption), filters_(filters) {
    setOption(QFileDialog::DontUseNativeDialog);
    setAcceptMode(QFileDialog::AcceptSave);
    setFileMode(QFileDialog::AnyFile);
    for (const auto& f : filters_) names_ << nameFilterOf(f);
    if (!names_.isEmpty()) setNameFilters(names_);
  }

  void accept() override {
    const qsizetype n = names_.indexOf(selectedNameFilter());
    const QString ext =
        n >= 0 ? qtk::toQt(tk::defaultExtension(filters_[static_cast<std::size_t>(n)])) : QString();
    setDefaultSuffix(ext);
    // Qt looks at a typed name relative to the working directory when it decides whether
    // to add the suffix: a name that is a folder there would stay bare. The extension
    // goes on the name in the field instead, where the user sees it too.
    auto* edit = findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    if (edit != nullptr && !ext.isEmpty()) {
      const QString typed = edit->text();
      const bool plainName = !typed.isEmpty() && !typed.contains(QLatin1Char('"')) &&
                             !QFileInfo(typed).fileName().contains(QLatin1Char('.'));
      if (plainName && !QFileInfo(directory(), typed).isDir()) edit->setText(typed + QLatin1Char('.') + ext);
    }
    QFileDialog::accept();
  }

  // Selects the first filter that matches the file name; the first filter when none does.
  void selectFilterFor(const QString& fileName) {
    if (names_.isEmpty()) return;
    const std::size_t i = tk::filterIndexFor(filters_, pathFromQt(fileName));
    selectNameFilter(names_.at(static_cast<qsizetype>(i)));
  }

 private:
  std::vector<tk::FileFilter> filters_;
  QStringList names_;
};

// PDF pages are US Letter where the locale measures in US units, A4 elsewhere
// (including where imperial units are British).
QPageSize::PageSizeId pdfPageSizeFor(QLocale::MeasurementSystem system) {
  return system == QLocale::ImperialUSSystem ? QPageSize::Letter : QPageSize::A4;
}

constexpr double kPdfMarginMm = 15.0;
constexpr double kPdfFontPoints = 10.0;  // body text; headings scale from it

}  // namespace

QtToolkit::QtToolkit() : core_(*this, clock_) {
  auto* app = qobject_cast<QApplication*>(QCoreApplication::instance());
  if (app == nullptr) throw std::logic_error("The Qt toolkit needs a QApplication");
  QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
  QApplication::setQuitOnLastWindowClosed(false);
  const QScreen* screen = primaryScreen();
  const double dpiX = screen != nullptr ? screen->logicalDotsPerInchX() : 96.0;
  const double dpiY = screen != nullptr ? screen->logicalDotsPerInchY() : 96.0;
  env_ = std::make_unique<qtk::Env>(*this, dpiX, dpiY);
  router_ = std::make_unique<qtk::KeyRouter>(*env_);
  app->installEventFilter(router_.get());

  pump_.setTimerType(Qt::PreciseTimer);
  QObject::connect(&pump_, &QTimer::timeout, &pump_, [this] { runWork(); });
  core_.setWake([this] { schedule(); });
  core_.setModalChanged([this](bool open) {
    for (auto* watch : env_->watches) watch->setActive(!open);
  });
  // The focus reaches the control of a window: its got-focus notification.
  QObject::connect(app, &QApplication::focusChanged, router_.get(), [this](QWidget*, QWidget* now) {
    if (now == nullptr) return;
    for (qtk::WindowSide* w : env_->windows) {
      if (w->topWidget() == now->window()) w->focusCameTo(now);
    }
  });
  // The user logs off: the session manager asks the program to save.
  QObject::connect(app, &QGuiApplication::commitDataRequest, router_.get(),
                   [this](QSessionManager&) { endSession(); });
}

QtToolkit::~QtToolkit() {
  if (QCoreApplication::instance() != nullptr) QCoreApplication::instance()->removeEventFilter(router_.get());
}

std::unique_ptr<tk::MainWindow> QtToolkit::createMainWindow() {
  return std::make_unique<qtk::MainWindowAdapter>(*env_);
}

std::unique_ptr<tk::DialogWindow> QtToolkit::createDialog() {
  QWidget* owner = nullptr;
  for (qtk::WindowSide* w : env_->windows) {
    if (dynamic_cast<qtk::MainWindowAdapter*>(w) != nullptr) owner = w->topWidget();
  }
  return std::make_unique<qtk::DialogAdapter>(*env_, owner);
}

std::unique_ptr<tk::Watch> QtToolkit::watch(Waitable what, std::function<void()> onReady) {
  // On this system a waitable is a file descriptor.
  return std::make_unique<qtk::WatchAdapter>(core_, *env_, what, std::move(onReady));
}

void QtToolkit::schedule() {
  const std::int32_t ms = core_.msToNextWork();
  if (ms < 0) {
    pump_.stop();
  } else if (!pump_.isActive() || pump_.interval() != ms || pump_.remainingTime() > ms) {
    // The pump repeats: a steady poll tick keeps it as it is, without registering its
    // timer anew on every tick.
    pump_.start(ms);
  }
}

void QtToolkit::runWork() {
  core_.runDueTimers();
  core_.runPosted();
  schedule();
}

void QtToolkit::notificationsDone() {
  if (core_.hasPosted()) schedule();
}

void QtToolkit::endSession() {
  for (qtk::WindowSide* w : env_->windows) {
    if (auto* m = dynamic_cast<qtk::MainWindowAdapter*>(w)) m->endSession();
  }
}

QWidget* QtToolkit::dialogParent() const {
  QWidget* parent = nullptr;
  for (qtk::WindowSide* w : env_->windows) {
    if (dynamic_cast<qtk::MainWindowAdapter*>(w) != nullptr && w->topWidget()->isVisible()) {
      parent = w->topWidget();
    }
  }
  return parent;
}

namespace {

// The details below a box's text: plain text, in lines wide enough that a path or a
// command stays readable instead of wrapping every few words.
void setDetails(QMessageBox& box, const std::string& details) {
  if (details.empty()) return;
  box.setInformativeText(qtk::toQtLines(details));
  if (auto* label = box.findChild<QLabel*>(QStringLiteral("qt_msgbox_informativelabel"))) {
    label->setTextFormat(Qt::PlainText);
    label->setMinimumWidth(label->fontMetrics().averageCharWidth() * 60);
  }
}

}  // namespace

std::int16_t QtToolkit::messageBox(const std::string& text, const std::string& title,
                                   const std::string& details) {
  const tk::EventCore::ModalScope modal(core_);
  QMessageBox box(QMessageBox::Critical, qtk::toQt(title), qtk::toQtLines(text), QMessageBox::Ok,
                  dialogParent());
  box.setTextFormat(Qt::PlainText);
  setDetails(box, details);
  box.exec();
  return 1;
}

bool QtToolkit::askOkCancel(const std::string& text, const std::string& title, const std::string& details) {
  const tk::EventCore::ModalScope modal(core_);
  QMessageBox box(QMessageBox::Question, qtk::toQt(title), qtk::toQtLines(text),
                  QMessageBox::Ok | QMessageBox::Cancel, dialogParent());
  box.setTextFormat(Qt::PlainText);
  setDetails(box, details);
  box.setDefaultButton(QMessageBox::Ok);
  box.setEscapeButton(QMessageBox::Cancel);
  box.exec();
  return box.clickedButton() == box.button(QMessageBox::Ok);
}

int QtToolkit::askChoice(const std::string& text, const std::string& title, const std::string& details,
                         const std::vector<std::string>& choices) {
  if (choices.empty()) return -1;
  const tk::EventCore::ModalScope modal(core_);
  QDialog box(dialogParent());
  box.setWindowTitle(qtk::toQt(title));
  auto* grid = new QGridLayout(&box);
  auto* icon = new QLabel(&box);
  const int iconSize = box.style()->pixelMetric(QStyle::PM_MessageBoxIconSize, nullptr, &box);
  icon->setPixmap(box.style()->standardIcon(QStyle::SP_MessageBoxQuestion, nullptr, &box).pixmap(iconSize));
  icon->setAlignment(Qt::AlignTop | Qt::AlignHCenter);
  grid->addWidget(icon, 0, 0, 3, 1);
  auto* label = new QLabel(qtk::toQtLines(text), &box);
  label->setTextFormat(Qt::PlainText);
  grid->addWidget(label, 0, 1);
  int row = 1;
  if (!details.empty()) {
    auto* more = new QLabel(qtk::toQtLines(details), &box);
    more->setTextFormat(Qt::PlainText);
    more->setMinimumWidth(more->fontMetrics().averageCharWidth() * 60);
    grid->addWidget(more, row++, 1);
  }
  auto* list = new QListWidget(&box);
  for (const auto& c : choices) list->addItem(qtk::toQt(c));
  list->setCurrentRow(0);
  // As high as the choices (at least three lines, at most eight; more scroll).
  const int rows = std::clamp(static_cast<int>(choices.size()), 3, 8);
  list->setFixedHeight(list->sizeHintForRow(0) * rows + 2 * list->frameWidth());
  grid->addWidget(list, row++, 1);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &box);
  buttons->button(QDialogButtonBox::Ok)->setDefault(true);
  grid->addWidget(buttons, row, 0, 1, 2);
  QObject::connect(buttons, &QDialogButtonBox::accepted, &box, &QDialog::accept);
  QObject::connect(buttons, &QDialogButtonBox::rejected, &box, &QDialog::reject);
  QObject::connect(list, &QListWidget::itemActivated, &box, &QDialog::accept);
  list->setFocus();
  if (box.exec() != QDialog::Accepted) return -1;
  return list->currentRow();
}

std::string QtToolkit::chooseSaveFile(const std::string& title, const std::string& suggestedPath,
                                      const std::vector<tk::FileFilter>& filters) {
  const tk::EventCore::ModalScope modal(core_);
  SaveDialog dialog(dialogParent(), qtk::toQt(title), filters);
  const QFileInfo suggested(pathToQt(suggestedPath));
  QString fileName;
  if (!suggestedPath.empty()) {
    const bool isFolder = suggested.isDir();
    dialog.setDirectory(isFolder ? suggested.absoluteFilePath() : suggested.absolutePath());
    if (!isFolder) fileName = suggested.fileName();
  }
  dialog.selectFilterFor(fileName);
  if (!fileName.isEmpty()) dialog.selectFile(fileName);
  if (dialog.exec() != QDialog::Accepted) return {};
  const QStringList chosen = dialog.selectedFiles();
  return chosen.isEmpty() ? std::string() : pathFromQt(chosen.front());
}

void QtToolkit::beep() {
  QApplication::beep();
}

bool QtToolkit::writePdf(const std::string& html, const std::string& path, std::string& why) {
  QSaveFile file(pathToQt(path));
  if (!file.open(QIODevice::WriteOnly)) {
    why = "Cannot create the file: " + qtk::fromQt(file.errorString());
    return false;
  }
  {
    QPdfWriter writer(&file);
    writer.setPageLayout(QPageLayout(
        QPageSize(pdfPageSizeFor(QLocale().measurementSystem())), QPageLayout::Portrait,
        QMarginsF(kPdfMarginMm, kPdfMarginMm, kPdfMarginMm, kPdfMarginMm), QPageLayout::Millimeter));
    QTextDocument doc;
    // Laid out at the writer's resolution on pages of its printable area, the document
    // prints as it is: the margins are the page layout's, without the extra margins and
    // page numbers that print() adds to a document without pages.
    doc.documentLayout()->setPaintDevice(&writer);
    doc.setDocumentMargin(0);
    QFont font = doc.defaultFont();
    font.setPointSizeF(kPdfFontPoints);
    doc.setDefaultFont(font);
    doc.setHtml(qtk::toQt(html));
    doc.setPageSize(QSizeF(writer.width(), writer.height()));
    writer.setTitle(doc.metaInformation(QTextDocument::DocumentTitle));
    writer.setCreator(QGuiApplication::applicationDisplayName());
    doc.print(&writer);
  }
  if (file.pos() == 0) {
    file.cancelWriting();
    why = "The PDF could not be drawn";
    return false;
  }
  if (!file.commit()) {
    why = "Cannot write the file: " + qtk::fromQt(file.errorString());
    return false;
  }
  return true;
}

std::int32_t QtToolkit::screenWidth() const {
  const QScreen* screen = primaryScreen();
  return screen != nullptr ? env_->twipsX(screen->availableGeometry().width()) : 0;
}

std::int32_t QtToolkit::screenHeight() const {
  const QScreen* screen = primaryScreen();
  return screen != nullptr ? env_->twipsY(screen->availableGeometry().height()) : 0;
}

std::int32_t QtToolkit::twipsPerPixelX() const {
  return static_cast<std::int32_t>(std::lround(env_->tppX()));
}

std::int32_t QtToolkit::twipsPerPixelY() const {
  return static_cast<std::int32_t>(std::lround(env_->tppY()));
}

void QtToolkit::quit(int exitCode) {
  core_.quit(exitCode);
  // Without a running loop, exit() would only make the next loop (a message box's)
  // end at once; run() sees the request instead.
  if (QThread::currentThread()->loopLevel() > 0) QCoreApplication::exit(exitCode);
}

int QtToolkit::run() {
  int code = 0;
  if (core_.takeQuit(code)) return code;
  code = QApplication::exec();
  core_.takeQuit(code);
  return code;
}

QWidget* QtToolkit::widgetOf(tk::Window& window) {
  auto* w = dynamic_cast<qtk::WindowSide*>(&window);
  return w != nullptr ? w->topWidget() : nullptr;
}

QWidget* QtToolkit::widgetOf(tk::Control& control) {
  auto* c = dynamic_cast<qtk::WidgetOf*>(&control);
  return c != nullptr ? c->qwidget() : nullptr;
}

QMenu* QtToolkit::menuOf(tk::Menu& menu) {
  auto* m = dynamic_cast<qtk::MenuAdapter*>(&menu);
  return m != nullptr ? m->menu() : nullptr;
}

QAction* QtToolkit::actionOf(tk::MenuItem& item) {
  auto* a = dynamic_cast<qtk::MenuItemAdapter*>(&item);
  return a != nullptr ? a->action() : nullptr;
}

}  // namespace tarnset

#include "toolkit/qt/QtToolkit.h"

#include <QAbstractTextDocumentLayout>
#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMenuBar>
#include <QMessageBox>
#include <QPageLayout>
#include <QPdfWriter>
#include <QRegularExpression>
#include <QSaveFile>
#include <QScreen>
#include <QStyleFactory>
#include <QTextDocument>
#include <QThread>
#include <cmath>
#include <stdexcept>

#include "toolkit/qt/QtElements.h"

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
    for (WindowAdapter* w : env_.windows) {
      if (w->widget() != top) continue;
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

}  // namespace qtk

namespace {

QScreen* primaryScreen() {
  return QGuiApplication::primaryScreen();
}

// Holds the program's ticks while a modal dialog is open: the descriptor watches pause
// (unread data would otherwise spin the dialog's event loop) and resume however the
// dialog ends.
class ModalScope {
 public:
  explicit ModalScope(qtk::Env& env) : env_(env) {
    if (env_.modalDepth++ == 0) {
      for (auto* watch : env_.watches) watch->setActive(false);
    }
  }
  ~ModalScope() {
    if (--env_.modalDepth == 0) {
      for (auto* watch : env_.watches) watch->setActive(true);
    }
  }
  ModalScope(const ModalScope&) = delete;
  ModalScope& operator=(const ModalScope&) = delete;

 private:
  qtk::Env& env_;
};

// File paths are the system's file-name bytes, not Latin-1 display text.
QString pathToQt(const std::string& path) {
  return QFile::decodeName(QByteArray(path.data(), static_cast<qsizetype>(path.size())));
}

std::string pathFromQt(const QString& path) {
  const QByteArray bytes = QFile::encodeName(path);
  return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

// "PDF document (*.pdf)", as QFileDialog lists a filter.
QString nameFilterOf(const tk::FileFilter& filter) {
  QStringList patterns;
  for (const auto& p : filter.patterns) patterns << qtk::toQt(p);
  return qtk::toQt(filter.name) + QStringLiteral(" (") + patterns.join(QLatin1Char(' ')) + QLatin1Char(')');
}

// The extension of a filter's first pattern ("*.pdf" gives "pdf"); empty when the
// pattern is not of that plain form ("*", "*.*", "report*").
QString extensionOf(const tk::FileFilter& filter) {
  if (filter.patterns.empty()) return {};
  const QString pattern = qtk::toQt(filter.patterns.front());
  if (!pattern.startsWith(QStringLiteral("*."))) return {};
  const QString ext = pattern.mid(2);
  const bool plain = !ext.isEmpty() && !ext.contains(QLatin1Char('*')) && !ext.contains(QLatin1Char('?')) &&
                     !ext.contains(QLatin1Char('['));
  return plain ? ext : QString();
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
    const QString ext = n >= 0 ? extensionOf(filters_[static_cast<std::size_t>(n)]) : QString();
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
    for (std::size_t i = 0; i < filters_.size(); ++i) {
      for (const auto& p : filters_[i].patterns) {
        const QRegularExpression re(QRegularExpression::wildcardToRegularExpression(qtk::toQt(p)),
                                    QRegularExpression::CaseInsensitiveOption);
        if (!fileName.isEmpty() && re.match(fileName).hasMatch()) {
          selectNameFilter(names_.at(static_cast<qsizetype>(i)));
          return;
        }
      }
    }
    if (!names_.isEmpty()) selectNameFilter(names_.front());
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

QtToolkit::QtToolkit() {
  if (qobject_cast<QApplication*>(QCoreApplication::instance()) == nullptr) {
    throw std::logic_error("The Qt toolkit needs a QApplication");
  }
  QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
  QApplication::setQuitOnLastWindowClosed(false);
  const QScreen* screen = primaryScreen();
  const double dpiX = screen != nullptr ? screen->logicalDotsPerInchX() : 96.0;
  const double dpiY = screen != nullptr ? screen->logicalDotsPerInchY() : 96.0;
  env_ = std::make_unique<qtk::Env>(*this, dpiX, dpiY);
  router_ = std::make_unique<qtk::KeyRouter>(*env_);
  QCoreApplication::instance()->installEventFilter(router_.get());
}

QtToolkit::~QtToolkit() {
  if (QCoreApplication::instance() != nullptr) QCoreApplication::instance()->removeEventFilter(router_.get());
}

std::unique_ptr<tk::MainWindow> QtToolkit::createMainWindow() {
  return std::make_unique<qtk::WindowAdapter>(*env_);
}

std::unique_ptr<tk::Timer> QtToolkit::createTimer() {
  return std::make_unique<qtk::TimerAdapter>(*env_);
}

std::unique_ptr<tk::Watch> QtToolkit::watch(Waitable what, std::function<void()> onReady) {
  // On this system a waitable is a file descriptor.
  return std::make_unique<qtk::WatchAdapter>(*env_, static_cast<int>(what), std::move(onReady));
}

void QtToolkit::post(std::function<void()> f) {
  // The router lives as long as the toolkit: a call still queued when it goes is dropped.
  QMetaObject::invokeMethod(
      router_.get(), [this, f = std::move(f)] { guarded(f); }, Qt::QueuedConnection);
}

QWidget* QtToolkit::dialogParent() const {
  QWidget* parent = nullptr;
  for (qtk::WindowAdapter* w : env_->windows) {
    if (w->widget()->isVisible()) parent = w->widget();
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
  const ModalScope modal(*env_);
  QMessageBox box(QMessageBox::Critical, qtk::toQt(title), qtk::toQtLines(text), QMessageBox::Ok,
                  dialogParent());
  box.setTextFormat(Qt::PlainText);
  setDetails(box, details);
  box.exec();
  return 1;
}

bool QtToolkit::askOkCancel(const std::string& text, const std::string& title, const std::string& details) {
  const ModalScope modal(*env_);
  QMessageBox box(QMessageBox::Question, qtk::toQt(title), qtk::toQtLines(text),
                  QMessageBox::Ok | QMessageBox::Cancel, dialogParent());
  box.setTextFormat(Qt::PlainText);
  setDetails(box, details);
  box.setDefaultButton(QMessageBox::Ok);
  box.setEscapeButton(QMessageBox::Cancel);
  box.exec();
  return box.clickedButton() == box.button(QMessageBox::Ok);
}

std::string QtToolkit::chooseSaveFile(const std::string& title, const std::string& suggestedPath,
                                      const std::vector<tk::FileFilter>& filters) {
  const ModalScope modal(*env_);
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

bool QtToolkit::modalActive() const {
  return env_->modalDepth > 0;
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
  quitRequested_ = true;
  exitCode_ = exitCode;
  // Without a running loop, exit() would only make the next loop (a message box's)
  // end at once; run() sees the request instead.
  if (QThread::currentThread()->loopLevel() > 0) QCoreApplication::exit(exitCode);
}

int QtToolkit::run() {
  if (quitRequested_) return exitCode_;
  return QApplication::exec();
}

QWidget* QtToolkit::widgetOf(tk::MainWindow& window) {
  auto* w = dynamic_cast<qtk::WindowAdapter*>(&window);
  return w != nullptr ? w->widget() : nullptr;
}

QWidget* QtToolkit::widgetOf(tk::Control& control) {
  if (auto* c = dynamic_cast<qtk::FrameAdapter*>(&control)) return c->widget();
  if (auto* c = dynamic_cast<qtk::ListBoxAdapter*>(&control)) return c->widget();
  if (auto* c = dynamic_cast<qtk::ButtonAdapter*>(&control)) return c->widget();
  if (auto* c = dynamic_cast<qtk::LabelAdapter*>(&control)) return c->widget();
  if (auto* c = dynamic_cast<qtk::TextPaneAdapter*>(&control)) return c->widget();
  return nullptr;
}

QAction* QtToolkit::actionOf(tk::MenuItem& item) {
  auto* a = dynamic_cast<qtk::MenuItemAdapter*>(&item);
  return a != nullptr ? a->action() : nullptr;
}

}  // namespace tarnset

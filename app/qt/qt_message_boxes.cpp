#include "qt_message_boxes.h"

#include <QApplication>
#include <QGridLayout>
#include <QMessageBox>
#include <QThread>
#include <condition_variable>
#include <mutex>

#include "notices.h"

namespace {

constexpr win::UINT MB_TYPEMASK = 0x000F;
constexpr win::UINT MB_ICONMASK = 0x00F0;
constexpr win::UINT MB_OKCANCEL = 1, MB_ABORTRETRYIGNORE = 2, MB_YESNOCANCEL = 3, MB_YESNO = 4, MB_RETRYCANCEL = 5;
constexpr win::UINT MB_ICONQUESTION = 0x20;
constexpr int IDCANCEL = 2, IDABORT = 3, IDRETRY = 4, IDIGNORE = 5, IDYES = 6, IDNO = 7;

QMessageBox::StandardButtons ButtonsFor(win::UINT type) {
  switch (type & MB_TYPEMASK) {
    case MB_OKCANCEL: return QMessageBox::Ok | QMessageBox::Cancel;
    case MB_ABORTRETRYIGNORE: return QMessageBox::Abort | QMessageBox::Retry | QMessageBox::Ignore;
    case MB_YESNOCANCEL: return QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
    case MB_YESNO: return QMessageBox::Yes | QMessageBox::No;
    case MB_RETRYCANCEL: return QMessageBox::Retry | QMessageBox::Cancel;
    default: return QMessageBox::Ok;
  }
}

QMessageBox::Icon IconFor(win::UINT type) {
  switch (type & MB_ICONMASK) {
    case win::MB_ICONERROR: return QMessageBox::Critical;
    case MB_ICONQUESTION: return QMessageBox::Question;
    case win::MB_ICONWARNING: return QMessageBox::Warning;
    case win::MB_ICONINFORMATION: return QMessageBox::Information;
    default: return QMessageBox::NoIcon;
  }
}

int ResultFor(int button) {
  switch (button) {
    case QMessageBox::Cancel: return IDCANCEL;
    case QMessageBox::Abort: return IDABORT;
    case QMessageBox::Retry: return IDRETRY;
    case QMessageBox::Ignore: return IDIGNORE;
    case QMessageBox::Yes: return IDYES;
    case QMessageBox::No: return IDNO;
    default: return win::IDOK;
  }
}

// A box is at least as wide as its caption needs: the caption in a bold
// face, and room for the title bar's icon and buttons.
void FitCaption(QMessageBox* box) {
  auto* grid = qobject_cast<QGridLayout*>(box->layout());
  if (!grid) return;
  QFont bold = box->font();
  bold.setBold(true);
  int width = QFontMetrics(bold).horizontalAdvance(box->windowTitle()) + 6 * QFontMetrics(box->font()).height();
  grid->addItem(new QSpacerItem(width, 0), grid->rowCount(), 0, 1, grid->columnCount());
}

// A system-modal box stays on top. (Setting the modality resets the window
// flags, so it comes first.)
QMessageBox* MakeBox(const std::string& text, const std::string& caption, win::UINT type, QWidget* parent,
                     Qt::WindowModality modality) {
  auto* box = new QMessageBox(IconFor(type), QString::fromStdString(caption), QString::fromStdString(text),
                              ButtonsFor(type), parent);
  box->setWindowModality(modality);
  if (type & win::MB_SYSTEMMODAL) box->setWindowFlag(Qt::WindowStaysOnTopHint);
  FitCaption(box);
  return box;
}

}  // namespace

// What the handler and the boxes share; it outlives the QtMessageBoxes
// object for as long as a thread or a box still refers to it.
struct QtMessageBoxes::State {
  QThread* const guiThread = QThread::currentThread();
  std::mutex mutex;
  std::condition_variable changed;
  bool shutdown = false;

  int ShowHere(const std::string& text, const std::string& caption, win::UINT type) {
    std::unique_ptr<QMessageBox> box(MakeBox(text, caption, type, QApplication::activeWindow(), Qt::ApplicationModal));
    return ResultFor(box->exec());
  }

  // Runs on a notice thread: posts the box to the GUI thread and waits. The
  // shutdown flag is set before the application goes, so qApp is alive
  // whenever it is still clear.
  int ShowFromOtherThread(const std::shared_ptr<State>& self, const std::string& text, const std::string& caption,
                          win::UINT type) {
    struct Answer {
      bool done = false;
      int result = 0;
    };
    auto answer = std::make_shared<Answer>();
    std::unique_lock lock(mutex);
    if (shutdown) return 0;
    QMetaObject::invokeMethod(qApp, [self, answer, text, caption, type] {
      if (self->Stopped()) return;
      // Not modal: the window stays usable, as with a box without owner.
      QMessageBox* box = MakeBox(text, caption, type, nullptr, Qt::NonModal);
      box->setAttribute(Qt::WA_DeleteOnClose);
      box->setAttribute(Qt::WA_QuitOnClose, false);
      QObject::connect(box, &QMessageBox::finished, [self, answer](int button) {
        std::lock_guard lock(self->mutex);
        answer->done = true;
        answer->result = ResultFor(button);
        self->changed.notify_all();
      });
      box->show();
    }, Qt::QueuedConnection);
    changed.wait(lock, [&] { return answer->done || shutdown; });
    return answer->done ? answer->result : 0;
  }

  bool Stopped() {
    std::lock_guard lock(mutex);
    return shutdown;
  }

  // The desktop's beep, sounded on the GUI thread; the caller goes on at once.
  void Beep() {
    std::lock_guard lock(mutex);
    if (!shutdown) QMetaObject::invokeMethod(qApp, [] { QApplication::beep(); }, Qt::QueuedConnection);
  }
};

QtMessageBoxes::QtMessageBoxes() : state_(std::make_shared<State>()) {
  std::weak_ptr<State> weak = state_;
  win::SetMessageBoxHandler([weak](win::HWND, const std::string& text, const std::string& caption, win::UINT type) {
    std::shared_ptr<State> state = weak.lock();
    if (!state) return 0;
    if (QThread::currentThread() == state->guiThread) return state->ShowHere(text, caption, type);
    return state->ShowFromOtherThread(state, text, caption, type);
  });
  win::SetBeepHandler([weak](win::DWORD, win::DWORD) {
    if (std::shared_ptr<State> state = weak.lock()) state->Beep();
  });
}

QtMessageBoxes::~QtMessageBoxes() {
  Shutdown();
  win::SetMessageBoxHandler(nullptr);
  win::SetBeepHandler(nullptr);
}

void QtMessageBoxes::Shutdown() {
  std::lock_guard lock(state_->mutex);
  state_->shutdown = true;
  state_->changed.notify_all();
}

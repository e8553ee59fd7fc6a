#include "form_storage.h"

#include <QEvent>
#include <QMetaProperty>

#include "exception_report.h"
#include "placement_reader.h"
#include "placement_writer.h"
#include "placement_text.h"
#include "reg_ini_file.h"
#include "registry.h"
#include "tform.h"
#include "window_placement.h"

namespace {

std::string ResolutionSuffix() {
  return ::ResolutionSuffix(win::GetSystemMetrics(win::SM_CXSCREEN), win::GetSystemMetrics(win::SM_CYSCREEN));
}

QString TrimText(const QString& text) { return QString::fromStdString(::TrimText(text.toStdString())); }

// A window without a parent is the application's main window.
bool IsMainWindow(const QWidget* form) { return form->isWindow() && !form->parentWidget(); }

// The form's position mode by name ("poScreenCenter"), empty when it has none.
QByteArray PositionMode(const QWidget* form) {
  int index = form->metaObject()->indexOfProperty("Position");
  if (index < 0) return {};
  QMetaProperty position = form->metaObject()->property(index);
  return position.enumerator().valueToKey(position.read(form).toInt());
}

// A form that would centre itself at its show keeps the restored position.
void KeepRestoredPosition(QWidget* form) {
  QByteArray mode = PositionMode(form);
  if (mode != "poScreenCenter" && mode != "poDesktopCenter") return;
  QMetaProperty position = form->metaObject()->property(form->metaObject()->indexOfProperty("Position"));
  position.write(form, position.enumerator().keyToValue("poDesigned"));
}

// The state a form starts in unless the store says otherwise: maximised only
// for a main window that leaves its position to the platform.
Qt::WindowState DefaultState(const QWidget* form) {
  return IsMainWindow(form) && PositionMode(form) == "poDefault" ? Qt::WindowMaximized : Qt::WindowNoState;
}

Qt::WindowState StateFromShowCmd(int showCmd, Qt::WindowState fallback) {
  switch (::StateFromShowCmd(showCmd)) {
    case StoredState::Normal: return Qt::WindowNoState;
    case StoredState::Minimized: return Qt::WindowMinimized;
    case StoredState::Maximized: return Qt::WindowMaximized;
    case StoredState::Keep: break;
  }
  return fallback;
}

// The property's name as the component's meta-object spells it: the exact
// spelling if there is one (a widget may have both "text" and "Text"), else
// the first that differs only in case; empty when there is none.
QByteArray FindProperty(const QObject* component, const QString& name) {
  const QMetaObject* meta = component->metaObject();
  if (meta->indexOfProperty(name.toLatin1()) >= 0) return name.toLatin1();
  for (int i = 0; i < meta->propertyCount(); ++i)
    if (QString::fromLatin1(meta->property(i).name()).compare(name, Qt::CaseInsensitive) == 0)
      return meta->property(i).name();
  return {};
}

// The moment before a form is first shown: a TForm tells it before it has a
// native window, so that a restored position places the frame; any other
// window by its first show event.
bool IsFirstShow(const QEvent* event) {
  return event->type() == TForm::FormShowEvent() || (event->type() == QEvent::Show && !event->spontaneous());
}

}  // namespace

// ---------------------------------------------------------------------------
// TFormPlacement

TFormPlacement::TFormPlacement(QWidget* owner) : QObject(owner), owner_(owner) {}

TFormPlacement::~TFormPlacement() { SaveAtDestruction(); }

void TFormPlacement::SaveAtDestruction() {
  if (destroying_) return;
  destroying_ = true;
  if (restored_ && !saved_) SaveFormPlacement(true);
}

void TFormPlacement::SetPreventResize(bool value) {
  preventResize_ = value;
  if (loaded_ && value) ApplyPreventResize();
}

void TFormPlacement::Loaded() {
  if (loaded_) return;
  loaded_ = true;
  owner_->installEventFilter(this);
  if (preventResize_) ApplyPreventResize();
}

// No maximise button, and a size the user cannot change.
void TFormPlacement::ApplyPreventResize() {
  Qt::WindowFlags flags = owner_->windowFlags() | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint;
  owner_->setWindowFlags(flags & ~Qt::WindowMaximizeButtonHint);
  owner_->setFixedSize(owner_->size());
}

bool TFormPlacement::eventFilter(QObject* watched, QEvent* event) {
  if (watched != owner_) return false;
  if (IsFirstShow(event) && !shown_) {
    shown_ = true;
    RestoreFormPlacement();
    if (preventResize_) owner_->setFixedSize(owner_->size());
  } else if (event->type() == QEvent::Close) {
    // The form decides first whether it may close; the save follows.
    static_cast<QObject*>(owner_)->event(event);
    if (event->isAccepted()) SaveFormPlacement();
    return true;
  }
  return false;
}

void TFormPlacement::RestoreFormPlacement() {
  if (!active_) return;
  try {
    Restore();
  } catch (const std::exception& error) {
    ShowException(QString::fromStdString(error.what()));
  }
}

// A save that failed is told once and not tried again at the destruction:
// the user has heard of it, and a second box would say the same.
void TFormPlacement::SaveFormPlacement(bool destroying) {
  if (!active_ || !restored_) return;
  saved_ = true;
  try {
    Save(destroying);
  } catch (const std::exception& error) {
    ShowException(QString::fromStdString(error.what()));
  }
}

void TFormPlacement::Restore() {
  saved_ = false;
  const auto restore = [this](PlacementReader& reader) {
    if (options_ & fpPosition) RestorePosition(reader);
    if (options_ & fpState) RestoreState(reader);
    RestoreFields(reader);
  };
  const std::string typeError =
      RestoreFromStore(iniFileName_.toStdString(), Section(), ResolutionSuffix(), version_, restore);
  restored_ = true;
  if (OnRestorePlacement) OnRestorePlacement();
  if (!typeError.empty()) ShowException(QString::fromStdString(typeError));
}

void TFormPlacement::RestorePosition(PlacementReader& reader) {
  win::WINDOWPLACEMENT placement;
  win::GetWindowPlacement(owner_, &placement);
  if (!owner_->isVisible()) placement.showCmd = win::SW_HIDE;  // neither show nor activate it here
  if (!reader.ReadPlacement(placement, ScreenPixelsPerInch(), IsSizable(owner_))) return;
  KeepRestoredPosition(owner_);
  win::SetWindowPlacement(owner_, &placement);
}

void TFormPlacement::RestoreState(PlacementReader& reader) {
  Qt::WindowState state = StateFromShowCmd(reader.ReadInteger("ShowCmd", 0), DefaultState(owner_));
  // A window of fixed size has no maximised state (nor a button to leave it).
  if (state == Qt::WindowMaximized && !IsSizable(owner_)) state = Qt::WindowNoState;
  Qt::WindowStates others = owner_->windowState() & ~(Qt::WindowMinimized | Qt::WindowMaximized);
  if (state == Qt::WindowMinimized && IsMainWindow(owner_)) {
    // The main window opens normally and is minimised once it is up.
    owner_->setWindowState(others);
    QMetaObject::invokeMethod(owner_, &QWidget::showMinimized, Qt::QueuedConnection);
  } else {
    owner_->setWindowState(others | state);
  }
}

void TFormPlacement::Save(bool destroying) {
  {
    TRegIniFile ini(iniFileName_.toStdString(), win::KEY_ALL_ACCESS);
    ini.WriteInteger(Section(), "FormVersion", version_);
    if (options_ & (fpState | fpPosition)) SavePosition(ini);
    ini.WriteString(Section(), "Visible", destroying ? "1" : "0");
    SaveFields(ini);
    ini.UpdateFile();
  }
  if (OnSavePlacement) OnSavePlacement();
}

void TFormPlacement::SavePosition(TRegIniFile& ini) {
  win::WINDOWPLACEMENT placement;
  win::GetWindowPlacement(owner_, &placement);
  if (IsMainWindow(owner_) && owner_->isMinimized()) placement.showCmd = win::SW_SHOWMINIMIZED;
  WritePlacement(ini, Section(), ResolutionSuffix(), placement, ScreenPixelsPerInch());
}

// ---------------------------------------------------------------------------
// TFormStorage

TFormStorage::TFormStorage(QWidget* owner) : TFormPlacement(owner) {}

TFormStorage::~TFormStorage() { SaveAtDestruction(); }

void TFormStorage::SetStoredProps(const QStringList& value) {
  storedProps_ = value;
  if (IsLoaded()) Bind();
}

void TFormStorage::Loaded() {
  TFormPlacement::Loaded();
  Bind();
}

// Binds each "component.property" entry to the form's component of that
// name; entries that do not parse or name nothing are dropped.
void TFormStorage::Bind() {
  bound_.clear();
  const auto components = Form()->findChildren<QObject*>();
  for (const QString& entry : storedProps_) {
    qsizetype dot = entry.indexOf('.');
    QString name = entry.left(dot).trimmed(), property = entry.mid(dot + 1).trimmed();
    if (dot < 0 || name.isEmpty() || property.isEmpty()) continue;
    for (QObject* component : components) {
      if (component->objectName().compare(name, Qt::CaseInsensitive) != 0) continue;
      if (QByteArray spelled = FindProperty(component, property); !spelled.isEmpty())
        bound_.push_back({component, spelled, (component->objectName() + '_' + spelled).toStdString()});
      break;
    }
  }
}

void TFormStorage::RestoreFields(PlacementReader& reader) {
  for (const StoredProp& prop : bound_) {
    if (!prop.component) continue;
    // A value that is not text leaves its field as it is (and is told).
    const QString current = prop.component->property(prop.property).toString();
    prop.component->setProperty(prop.property,
                                QString::fromStdString(reader.ReadField(prop.valueName, current.toStdString())));
  }
}

void TFormStorage::SaveFields(TRegIniFile& ini) {
  for (const StoredProp& prop : bound_) {
    if (!prop.component) continue;
    QString text = TrimText(prop.component->property(prop.property).toString());
    ini.WriteString(Section(), prop.valueName, text.toStdString());
  }
}

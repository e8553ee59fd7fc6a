// TFormPlacement keeps a form's position and window state in the per-user
// store between runs; TFormStorage also keeps chosen properties of the
// form's components. The store is HKEY_CURRENT_USER\<IniFileName>, values in
// its subkey <IniSection>, all written as text.
//
// The component is owned by its form and attaches itself, once the form has
// been built (Loaded), to three moments of the form's life:
//   - the first show: restore, before the form's own show handling;
//   - the close: after the form's own close handling, save when it may close;
//   - the destruction: save when no save was tried since the restore (one
//     that failed was told at the close, and is not tried again).
// The destruction save runs from this component's destructor. Create it
// before the form's other children so that they still exist then: a child
// already destroyed is left out of the save.
#pragma once

#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QWidget>
#include <functional>
#include <string>
#include <vector>

class PlacementReader;
class TRegIniFile;

class TFormPlacement : public QObject {
  Q_OBJECT
  Q_PROPERTY(bool Active READ Active WRITE SetActive)
  Q_PROPERTY(QString IniFileName READ IniFileName WRITE SetIniFileName)
  Q_PROPERTY(QString IniSection READ IniSection WRITE SetIniSection)
  Q_PROPERTY(bool UseRegistry READ UseRegistry WRITE SetUseRegistry)
  Q_PROPERTY(TPlacementRegRoot RegistryRoot READ RegistryRoot WRITE SetRegistryRoot)
  Q_PROPERTY(bool PreventResize READ PreventResize WRITE SetPreventResize)
  Q_PROPERTY(TPlacementOptions Options READ Options WRITE SetOptions)
  Q_PROPERTY(int Version READ Version WRITE SetVersion)

 public:
  enum TPlacementOption { fpState = 0x1, fpPosition = 0x2 };
  Q_DECLARE_FLAGS(TPlacementOptions, TPlacementOption)
  Q_FLAG(TPlacementOptions)
  // Only the current user's store exists on this host.
  enum TPlacementRegRoot { prCurrentUser };
  Q_ENUM(TPlacementRegRoot)

  explicit TFormPlacement(QWidget* owner);
  ~TFormPlacement() override;

  bool Active() const { return active_; }
  void SetActive(bool value) { active_ = value; }
  QString IniFileName() const { return iniFileName_; }
  void SetIniFileName(const QString& value) { iniFileName_ = value; }
  QString IniSection() const { return iniSection_; }
  void SetIniSection(const QString& value) { iniSection_ = value; }
  // There is no text-file store on this host: the store is always used.
  bool UseRegistry() const { return useRegistry_; }
  void SetUseRegistry(bool value) { useRegistry_ = value; }
  TPlacementRegRoot RegistryRoot() const { return prCurrentUser; }
  void SetRegistryRoot(TPlacementRegRoot) {}
  bool PreventResize() const { return preventResize_; }
  void SetPreventResize(bool value);
  TPlacementOptions Options() const { return options_; }
  void SetOptions(TPlacementOptions value) { options_ = value; }
  int Version() const { return version_; }
  void SetVersion(int value) { version_ = value; }

  std::function<void()> OnSavePlacement;
  std::function<void()> OnRestorePlacement;

  // The form has been built: attach to it and fix its size if asked to.
  virtual void Loaded();
  // Both report a store error through the standard report; they never throw.
  void RestoreFormPlacement();
  void SaveFormPlacement(bool destroying = false);

  bool eventFilter(QObject* watched, QEvent* event) override;

 protected:
  QWidget* Form() const { return owner_; }
  bool IsLoaded() const { return loaded_; }
  // The destruction save; each class that saves more calls it from its own
  // destructor, while its part still exists.
  void SaveAtDestruction();
  std::string Section() const { return iniSection_.toStdString(); }
  virtual void RestoreFields(PlacementReader&) {}
  virtual void SaveFields(TRegIniFile&) {}

 private:
  void Restore();
  void RestorePosition(PlacementReader& reader);
  void RestoreState(PlacementReader& reader);
  void Save(bool destroying);
  void SavePosition(TRegIniFile& ini);
  void ApplyPreventResize();

  QWidget* owner_;  // the parent: it outlives this component
  bool active_ = true;
  QString iniFileName_;
  QString iniSection_;
  bool useRegistry_ = true;
  bool preventResize_ = false;
  TPlacementOptions options_ = {fpState, fpPosition};
  int version_ = 0;
  bool loaded_ = false;
  bool shown_ = false;
  bool restored_ = false;
  bool saved_ = false;
  bool destroying_ = false;
};

Q_DECLARE_OPERATORS_FOR_FLAGS(TFormPlacement::TPlacementOptions)

class TFormStorage : public TFormPlacement {
  Q_OBJECT
  // Entries "component.property"; the property is found without regard to case.
  Q_PROPERTY(QStringList StoredProps READ StoredProps WRITE SetStoredProps)

 public:
  explicit TFormStorage(QWidget* owner);
  ~TFormStorage() override;

  QStringList StoredProps() const { return storedProps_; }
  void SetStoredProps(const QStringList& value);

  void Loaded() override;

 protected:
  void RestoreFields(PlacementReader& reader) override;
  void SaveFields(TRegIniFile& ini) override;

 private:
  // An entry bound to the form's component of that name.
  struct StoredProp {
    QPointer<QObject> component;
    QByteArray property;  // as the component's meta-object spells it
    std::string valueName;
  };
  void Bind();

  QStringList storedProps_;
  std::vector<StoredProp> bound_;
};

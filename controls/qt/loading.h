// The loading phase of a form. While a form builds its controls from its
// design, some setters must not apply their run-time rules (a flat edit keeps
// the border styles its design gives it instead of resetting them when Flat is
// set). A form marks the phase with a LoadingScope on itself:
//
//   TForm1::TForm1() {
//     LoadingScope loading(this);
//     ip = new TksoEdit(DsGroup1);
//     ip->SetFlat(true);                  // styles are not reset while loading
//     ip->SetBorderStyleFlat(kbsEtched);
//   }                                     // loading ends here
//
// A control counts as loading when it or any of its ancestors is in a scope
// (so controls must get their parent before their properties are set).
#pragma once

class QObject;

class LoadingScope {
 public:
  explicit LoadingScope(QObject* root);
  ~LoadingScope();
  LoadingScope(const LoadingScope&) = delete;
  LoadingScope& operator=(const LoadingScope&) = delete;

 private:
  QObject* root_;
};

// True while object or one of its parents is inside a LoadingScope.
bool IsLoading(const QObject* object);

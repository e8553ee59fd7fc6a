#include "loading.h"

#include <QObject>
#include <QVariant>

namespace {
constexpr char kLoadingProperty[] = "velotrunkLoadingDepth";

int Depth(const QObject* object) { return object->property(kLoadingProperty).toInt(); }
}  // namespace

LoadingScope::LoadingScope(QObject* root) : root_(root) {
  root_->setProperty(kLoadingProperty, Depth(root_) + 1);
}

LoadingScope::~LoadingScope() {
  const int depth = Depth(root_) - 1;
  root_->setProperty(kLoadingProperty, depth > 0 ? QVariant(depth) : QVariant());
}

bool IsLoading(const QObject* object) {
  for (; object; object = object->parent())
    if (Depth(object) > 0) return true;
  return false;
}

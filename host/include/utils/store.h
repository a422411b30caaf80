#pragma once

#include "storekey.h"

#include <QList>
#include <QMap>
#include <QVariant>

namespace Utils {

using KeyList = QList<Key>;
using Store = QMap<Key, QVariant>;

} // namespace Utils

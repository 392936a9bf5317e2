#pragma once

#include "history/sqlite.h"

#include <functional>

// Whether the file is a store of the earlier layout: a row of floating-point figures per cycle.
bool IsEarlierStore(const QString& path);

// Converts a store of the earlier layout: a new file is built beside it, a batch of cycles at a
// time (so its log stays small), and then takes the old one's place; until then the old file is
// untouched. roomLeft is asked before each batch; without room the new file is removed again.
bool ConvertEarlierStore(const QString& path, const std::function<bool()>& roomLeft, DbError* error);

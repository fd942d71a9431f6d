#pragma once
// The one-file HTML report of a store's runs: pass rates per day and per
// mode, answer times per mode, the slowest units and the failing ones.

#include "RunRows.h"

#include <QByteArray>

namespace kestrel::results::tool {

struct ReportInput {
  QString store;   // the store as messages name it
  QString filter;  // what picked the runs, for the heading; empty: every run
  QDateTime made;  // when the report was made
};

// Reads the runs `f` picks and makes the page. Empty with the reason in
// `error` when the store could not be read.
QByteArray htmlReport(const Store& store, const Filter& f, const ReportInput& in, QString* error);

}  // namespace kestrel::results::tool

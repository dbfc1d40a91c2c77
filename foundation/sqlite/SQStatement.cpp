#include "foundation/sqlite/SQStatement.h"

#include <sqlite3.h>

#include <cstdio>

SQStatement::~SQStatement() { close(); }

int SQStatement::reset() {
  int rc = SQLITE_OK;
  if (statement_) rc = sqlite3_reset(statement_);
  inUse_ = false;
  reset_ = true;
  return rc;
}

int SQStatement::close() {
  int rc = SQLITE_OK;
  if (statement_) rc = sqlite3_finalize(statement_);
  statement_ = nullptr;
  inUse_ = false;
  return rc;
}

std::string SQStatement::description() const {
  char head[64];
  std::snprintf(head, sizeof head, "<SQStatement: %p>", static_cast<const void*>(this));
  return std::string(head) + " " + std::to_string(useCount_) + " hit(s) for query " + query_;
}

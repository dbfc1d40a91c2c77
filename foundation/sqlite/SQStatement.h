#pragma once
// One prepared statement, shared between the statement cache and the result set reading from it.
#include <cstdint>
#include <string>

struct sqlite3_stmt;

class SQStatement {
 public:
  SQStatement() = default;
  ~SQStatement();
  SQStatement(const SQStatement&) = delete;
  SQStatement& operator=(const SQStatement&) = delete;

  sqlite3_stmt* statement() const { return statement_; }
  void setStatement(sqlite3_stmt* statement) { statement_ = statement; }
  const std::string& query() const { return query_; }
  void setQuery(std::string query) { query_ = std::move(query); }
  std::int32_t useCount() const { return useCount_; }
  void setUseCount(std::int32_t count) { useCount_ = count; }
  bool inUse() const { return inUse_; }
  void setInUse(bool inUse) { inUse_ = inUse; }

  // Rewinds the statement for another run; answers SQLite's result of the reset.
  int reset();
  // Not stepped since it was prepared or reset.
  bool isReset() const { return reset_; }
  void willStep() { reset_ = false; }
  // Finalizes the statement; the wrapper is empty afterwards.
  int close();
  std::string description() const;

 private:
  sqlite3_stmt* statement_ = nullptr;
  std::string query_;
  std::int32_t useCount_ = 0;
  bool inUse_ = false;
  bool reset_ = true;
};

#pragma once
// The cursor a query hands back: steps through the rows of one prepared statement and converts column
// values by index (from 0) or by case-insensitive column name. Destroying it closes it.
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "os/core/Data.h"
#include "os/core/Date.h"
#include "os/core/Error.h"
#include "os/core/Value.h"

class SQDatabase;
class SQStatement;

class SQResultSet {
  struct Private {};

 public:
  static std::shared_ptr<SQResultSet> resultSetWithStatement(std::shared_ptr<SQStatement> statement,
                                                             std::shared_ptr<SQDatabase> parentDatabase);
  SQResultSet(Private, std::shared_ptr<SQStatement> statement, std::shared_ptr<SQDatabase> parentDatabase);
  ~SQResultSet();
  SQResultSet(const SQResultSet&) = delete;
  SQResultSet& operator=(const SQResultSet&) = delete;

  // Advances to the next row. False at the end and on a failed step; either way the result set closes,
  // and a failure stays readable through stepError().
  bool next();
  bool hasAnotherRow() const;
  void close();
  bool isClosed() const { return statement_ == nullptr; }
  // The SQLite code of the step that ended the rows (SQLITE_DONE for a normal end, 0 while reading).
  int lastStepCode() const { return lastStepCode_; }
  // The failure that ended the rows: busy, locked, an error; nothing after a normal end.
  const std::optional<os::Error>& stepError() const { return stepError_; }

  const std::string& query() const { return query_; }
  void setQuery(std::string query) { query_ = std::move(query); }
  const std::shared_ptr<SQStatement>& statement() const { return statement_; }
  void setStatement(std::shared_ptr<SQStatement> statement) { statement_ = std::move(statement); }
  void setParentDB(std::shared_ptr<SQDatabase> parent) { parentDB_ = std::move(parent); }
  const std::shared_ptr<SQDatabase>& parentDB() const { return parentDB_; }

  int columnCount() const;
  const std::map<std::string, int>& columnNameToIndexMap();
  int columnIndexForName(const std::string& columnName);
  std::optional<std::string> columnNameForIndex(int columnIndex) const;

  int intForColumnIndex(int columnIndex) const;
  long longForColumnIndex(int columnIndex) const;
  long long longLongIntForColumnIndex(int columnIndex) const;
  unsigned long long unsignedLongLongIntForColumnIndex(int columnIndex) const;
  bool boolForColumnIndex(int columnIndex) const;
  double doubleForColumnIndex(int columnIndex) const;
  std::optional<std::string> stringForColumnIndex(int columnIndex) const;
  // SQLite's own text, valid until the next step.
  const char* UTF8StringForColumnIndex(int columnIndex) const;
  // A NULL column reads as nothing, an empty blob as empty data.
  std::optional<os::Data> dataForColumnIndex(int columnIndex) const;
  // SQLite's own bytes, valid until the next step.
  std::optional<std::span<const std::uint8_t>> dataNoCopyForColumnIndex(int columnIndex) const;
  std::optional<os::Date> dateForColumnIndex(int columnIndex) const;
  bool columnIndexIsNull(int columnIndex) const;
  os::Value objectForColumnIndex(int columnIndex) const;

  int intForColumn(const std::string& name) { return intForColumnIndex(columnIndexForName(name)); }
  long longForColumn(const std::string& name) { return longForColumnIndex(columnIndexForName(name)); }
  long long longLongIntForColumn(const std::string& name) { return longLongIntForColumnIndex(columnIndexForName(name)); }
  unsigned long long unsignedLongLongIntForColumn(const std::string& name) {
    return unsignedLongLongIntForColumnIndex(columnIndexForName(name));
  }
  bool boolForColumn(const std::string& name) { return boolForColumnIndex(columnIndexForName(name)); }
  double doubleForColumn(const std::string& name) { return doubleForColumnIndex(columnIndexForName(name)); }
  std::optional<std::string> stringForColumn(const std::string& name) { return stringForColumnIndex(columnIndexForName(name)); }
  const char* UTF8StringForColumnName(const std::string& name) { return UTF8StringForColumnIndex(columnIndexForName(name)); }
  std::optional<os::Data> dataForColumn(const std::string& name) { return dataForColumnIndex(columnIndexForName(name)); }
  std::optional<std::span<const std::uint8_t>> dataNoCopyForColumn(const std::string& name) {
    return dataNoCopyForColumnIndex(columnIndexForName(name));
  }
  std::optional<os::Date> dateForColumn(const std::string& name) { return dateForColumnIndex(columnIndexForName(name)); }
  bool columnIsNull(const std::string& name) { return columnIndexIsNull(columnIndexForName(name)); }
  os::Value objectForColumnName(const std::string& name) { return objectForColumnIndex(columnIndexForName(name)); }

  os::Value operator[](int columnIndex) const { return objectForColumnIndex(columnIndex); }
  os::Value operator[](const std::string& name) { return objectForColumnName(name); }

  // Column name as SQLite spells it -> value; nothing when the row has no columns (before next()).
  std::optional<os::Dictionary> resultDictionary() const;
  // Older form: lower-cased column names.
  std::optional<os::Dictionary> resultDict();

 private:
  bool validColumn(int columnIndex) const;

  std::shared_ptr<SQDatabase> parentDB_;
  std::shared_ptr<SQStatement> statement_;
  std::string query_;
  std::optional<std::map<std::string, int>> columnNameToIndexMap_;
  int lastStepCode_ = 0;
  std::optional<os::Error> stepError_;
};

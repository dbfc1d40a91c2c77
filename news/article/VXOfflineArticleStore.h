#pragma once
// The offline article files: an article's detail answer kept as a property list at
// VXGlobalHelper::offlineDirectory() + category + "_" + id, written by the article screen after a
// fresh answer and by the offline download, read back by the article screen before it asks the
// server.
//
// The category and id that name a file may come from a pushed payload, so both must be whole
// decimal integers (a number or a string of digits); anything else ("5/../x", "", 1.5) names no
// file. Answers may carry JSON nulls, which a property list cannot hold: they are dropped before
// writing rather than costing the whole file.
#include <optional>
#include <string>

#include "os/core/Error.h"
#include "os/core/Value.h"

class VXReaderContext;

inline constexpr const char* kOfflineArticleErrorDomain = "VXOfflineArticleStore";
enum VXOfflineArticleErrorCode : long {
  kOfflineArticleBadName = 1,   // category or id is not a whole decimal integer
  kOfflineArticleWriteFailed = 2,
};

class VXOfflineArticleStore {
 public:
  // The value as a decimal integer text ("12", "-3"): an integral number, or a string of an
  // optional "-" and 1 to 18 digits. Nothing for anything else.
  static std::optional<std::string> decimalText(const os::Value& value);
  // The file's name ("5_1024"), or nothing when either part is refused.
  static std::optional<std::string> fileName(const os::Value& category, const os::Value& ID);
  // The file's full path (the offline folder is made when missing), or nothing.
  static std::optional<std::string> pathFor(const os::Value& category, const os::Value& ID);

  // A copy without nulls: null members of dictionaries and null elements of arrays are left out,
  // at every depth. A null at the top stays null.
  static os::Value stripNulls(const os::Value& value);

  // Writes the answer atomically (nulls dropped); false with an error when the name is refused
  // or the file cannot be written. Safe from any thread. A second save replaces the file.
  static bool saveWithInfo(const os::Dictionary& info, const os::Value& category, const os::Value& ID,
                           os::Error* error = nullptr);
  // The same, in its turn among the context's saves: of two saves of one file, the one begun later
  // (with the newer answer) is the one the file keeps, whichever ends last. A save that a later one
  // has already replaced writes nothing and succeeds, and so does one whose answer was asked for
  // before the offline files were last removed (`asked`: clearings() then; without it, the call).
  static bool saveWithInfo(VXReaderContext& context, const os::Dictionary& info, const os::Value& category,
                           const os::Value& ID, os::Error* error = nullptr,
                           std::optional<unsigned long long> asked = std::nullopt);
  // How many times the context's offline files were removed so far.
  static unsigned long long clearings(VXReaderContext& context);
  // Removes every offline file (the folder with all in it), after any save replacing a file now;
  // saves begun before it, or of answers asked for before it, write nothing afterwards. False
  // when the folder is there and could not be removed.
  static bool removeAll(VXReaderContext& context, os::Error* error = nullptr);
  // The same on a background queue, so a screen never waits for the disk; a failure goes to the log.
  // The save's turn is taken at the call. The context counts the save (the current one without).
  static void saveInBackground(const os::Dictionary& info, const os::Value& category, const os::Value& ID);
  static void saveInBackground(VXReaderContext& context, const os::Dictionary& info, const os::Value& category,
                               const os::Value& ID);
  // Saves started in the background and not yet written (for tests and an orderly shutdown).
  static int pendingBackgroundSaves();
  static int pendingBackgroundSaves(VXReaderContext& context);
  static bool waitForBackgroundSaves(double seconds);
  static bool waitForBackgroundSaves(VXReaderContext& context, double seconds);
  // The stored answer, or nothing when the name is refused, there is no file, or it does not
  // hold a property-list dictionary.
  static std::optional<os::Dictionary> read(const os::Value& category, const os::Value& ID);

  // At launch: removes the temporary files of saves cut short (the process killed, the power lost)
  // that would otherwise stay in the folder for good. Answers how many went.
  static std::size_t removeInterruptedSaves();
};

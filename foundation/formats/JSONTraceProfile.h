#pragma once
// What tells one copy of the JSON codec with error trace from another. Several clients carry
// this codec under their own class names and error domains; the parser, the writer and the
// facades are written once and each copy only supplies its profile.
#include <string>

struct JSONTraceProfile {
  // Domain of every error the copy records.
  std::string errorDomain;
  // The copy's own class names, used in its diagnostics.
  std::string parserClassName;
  std::string writerClassName;
  std::string facadeClassName;  // empty: the copy has no facade
  // The copy checks, after every successful top-level scan, that the scan recorded no error,
  // and stops the process when it did.
  bool assertsScanResult = false;
  // Values of an array, or members of an object, may follow each other without a comma ("[1 2]").
  bool acceptsMissingCommas = false;

  // The QQ Connect client's copy: parser, writer and a facade for both directions.
  static const JSONTraceProfile& qqConnect();
  // The Renren client's copy: parser and a facade that only parses; it shares QQ Connect's
  // error domain, asserts on its scan results and reads values that lack their commas.
  static const JSONTraceProfile& renren();
  // The sharing component's copy: parser and writer used directly, in a domain of its own.
  static const JSONTraceProfile& sharing();
};

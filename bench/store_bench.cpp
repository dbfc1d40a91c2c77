// The cookie jar and the pasteboard at their bounds, against the same work where the bound costs
// nothing, in the same run:
// - a renewal and a new site's cookies set into a jar full to its 3,000 cookies, against the same
//   sets into a jar of one site (a set costs a few look-ups however full the jar is);
// - a look-up of an unchanged pasteboard of 20,000 items written by another application as XML,
//   against the same look-up when the pasteboard changed before it (its list parsed again).
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "bench/ProcessCpu.h"
#include "os/net/HTTPCookieStorage.h"
#include "os/store/FileManager.h"
#include "os/store/Pasteboard.h"
#include "os/store/Sandbox.h"
#include "os/testing/TestSandbox.h"

namespace {

std::vector<std::string> siteCookies(int n) {
  std::vector<std::string> lines;
  for (int i = 0; i < n; ++i) lines.push_back("n" + std::to_string(i) + "=" + std::string(40, 'v'));
  return lines;
}

void setCookies(benchmark::State& state, int sites) {
  os::HTTPCookieStorage jar;
  for (int site = 0; site < sites; ++site) jar.setCookiesFromHeaderLines(siteCookies(50), "http://site" + std::to_string(site) + ".test/");
  const std::vector<std::string> visit = siteCookies(10);
  long round = 0;
  for (auto _ : state) {
    jar.setCookiesFromHeaderLines({"sid=" + std::to_string(round) + "; Path=/"}, "https://bank.test/");
    jar.setCookiesFromHeaderLines(visit, "http://visit" + std::to_string(round++ % 1000) + ".test/");
    benchmark::DoNotOptimize(jar.cookieHeaderForURL("https://bank.test/"));
  }
}

void SetCookiesIntoAFullJar(benchmark::State& state) { setCookies(state, 60); }
void BaselineSetCookiesIntoAJarOfOneSite(benchmark::State& state) { setCookies(state, 1); }

void lookUpPasteboard(benchmark::State& state, bool changedBetween) {
  os::TestSandbox box;
  auto messenger = box.peerApplication("com.example.messenger");
  auto theirs = os::Pasteboard::pasteboardWithName("wechat_data", true, messenger);
  std::string text = "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>changeCount</key><integer>1</integer><key>items</key><array>";
  for (int i = 0; i < 20000; ++i) text += "<dict><key>t" + std::to_string(i) + "</key><data>aGk=</data></dict>";
  text += "</array></dict></plist>";
  const std::string folder = box.sandbox()->deviceDirectory() + "/Pasteboards";
  std::string file;
  const auto names = os::FileManager::defaultManager().contentsOfDirectoryAtPath(folder).value_or(std::vector<std::string>{});
  for (const auto& name : names)
    if (name.find("wechat_data") != std::string::npos) file = folder + "/" + name;
  os::FileManager::defaultManager().writeData(os::dataFromString(text), file);
  auto mine = os::Pasteboard::pasteboardWithName("wechat_data", false);
  if (mine->items().size() != 20000) state.SkipWithError("items not read");
  bool odd = false;
  for (auto _ : state) {
    if (changedBetween) {
      state.PauseTiming();
      // The same items, the text one byte longer or shorter: other bytes to read.
      os::FileManager::defaultManager().writeData(os::dataFromString((odd = !odd) ? text + " " : text), file);
      state.ResumeTiming();
    }
    if (mine->items().size() != 20000) state.SkipWithError("items not read");
  }
}

void LookUpAnUnchangedXMLPasteboard(benchmark::State& state) { lookUpPasteboard(state, false); }
void BaselineLookUpAChangedXMLPasteboard(benchmark::State& state) { lookUpPasteboard(state, true); }

}  // namespace

BENCHMARK(SetCookiesIntoAFullJar)->Unit(benchmark::kMicrosecond);
BENCHMARK(BaselineSetCookiesIntoAJarOfOneSite)->Unit(benchmark::kMicrosecond);
BENCHMARK(LookUpAnUnchangedXMLPasteboard)->Unit(benchmark::kMillisecond);
BENCHMARK(BaselineLookUpAChangedXMLPasteboard)->Unit(benchmark::kMillisecond);

NEWSREADER_BENCH_MAIN()

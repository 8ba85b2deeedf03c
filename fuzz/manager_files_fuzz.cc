// fuzz-link: brindle_manager
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "core/date_time.h"
#include "core/download_status.h"
#include "manager/category.h"
#include "manager/local_download_info.h"
#include "engine/mirror_list.h"
#include "manager/mirror_list_file.h"
#include "manager/server_stats.h"
#include "core/text_file.h"

namespace {

using namespace brindle;

// Nothing is ever written here: the readers are fed from memory.
constexpr const char* kNowhere = "/nonexistent-brindle-fuzz";

void Check(bool condition) {
  if (!condition) std::abort();
}

// A record file: what is read, saved and read again must be the same record,
// and saving it once more must not change the text.
void RecordFile(std::string_view text) {
  TLocalDownloadinfo first(nullptr, std::string(kNowhere) + "/A", nullptr);
  first.ReadRecord(text, nullptr);
  const std::string saved = first.RecordText(text);
  TLocalDownloadinfo second(nullptr, std::string(kNowhere) + "/A", nullptr);
  second.ReadRecord(saved, nullptr);
  Check(second.Url->Url == first.Url->Url);
  Check(second.LocalFileName == first.LocalFileName);
  Check(second.Description == first.Description);
  Check(second.FileSize == first.FileSize && second.NumOfParts == first.NumOfParts);
  Check(DateTimeToText(second.Created) == DateTimeToText(first.Created));
  Check(second.Referer == first.Referer && second.Cookie == first.Cookie);
  // A finished download keeps none of the browser's secrets.
  Check(first.Status() != TDownloadState::Done || (first.Referer.empty() && first.Cookie.empty()));
  Check(second.AllValidators().size() == first.AllValidators().size());
  for (const auto& [server, validators] : first.AllValidators()) {
    const TServerValidators* read = second.Validators(server);
    Check(read && read->ETag == validators.ETag && read->LastModified == validators.LastModified);
  }
  Check(second.RecordText(saved) == saved);
}

// cat.dat lines: a line that reads as a category is written back as one
// that reads the same.
void CategoriesFile(std::string_view text) {
  for (const std::string_view line : SplitLines(text)) {
    const auto category = TCategory::FromLine(line);
    if (!category) continue;
    const std::string written = category->ToString();
    const auto again = TCategory::FromLine(written);
    Check(again && again->ToString() == written && again->Name() == category->Name() &&
          again->Extensions() == category->Extensions() && again->SaveFolder() == category->SaveFolder());
  }
}

// mirrors.lst after a first line holding the download's URL: any result
// holds that URL itself.
void MirrorListFile(std::string_view text) {
  const size_t end = text.find('\n');
  const std::string url(text.substr(0, end));
  auto mirrors = GetMirrorsFromText(end == std::string_view::npos ? "" : text.substr(end + 1), url);
  Check(mirrors->Count() == 0 || mirrors->GetMirror(url) != nullptr);
  mirrors->DeleteAndFreeAllMirrors();
}

// serverstats.txt: the lists keep their invariants and survive a round trip.
void StatisticsFile(std::string_view text) {
  TServerStats stats(kNowhere);
  stats.LoadText(text);
  for (const auto* list : {&stats.Servers(), &stats.TopDomains()}) {
    Check(list->size() <= TServerStats::kMaxEntries);
    for (size_t i = 1; i < list->size(); ++i) Check((*list)[i - 1].AvgPing <= (*list)[i].AvgPing);
  }
  const std::string written = stats.Text();
  TServerStats again(kNowhere);
  again.LoadText(written);
  Check(again.Text() == written);
}

}  // namespace

// The first byte chooses the file format, the rest is the file.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const std::string_view text(reinterpret_cast<const char*>(data) + 1, size - 1);
  switch (data[0] % 4) {
    case 0: RecordFile(text); break;
    case 1: CategoriesFile(text); break;
    case 2: MirrorListFile(text); break;
    default: StatisticsFile(text); break;
  }
  return 0;
}

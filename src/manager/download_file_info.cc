#include "manager/download_file_info.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <memory>

#include "core/file_names.h"
#include "core/paths.h"
#include "core/prompt_port.h"
#include "core/settings_schema.h"
#include "core/url.h"
#include "manager/category.h"
#include "manager/category_editor.h"
#include "manager/category_list.h"
#include "manager/download_file_name.h"
#include "manager/local_download_info.h"

namespace brindle {
namespace {

constexpr const char* kCaption = "Brindle";

// "dir" and "name" of "dir/name"; a path without "/" has no directory.
// The root keeps its "/".
void SplitPath(const std::string& path, std::string& dir, std::string& name) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) {
    dir.clear();
    name = path;
    return;
  }
  dir = slash == 0 ? "/" : path.substr(0, slash);
  name = path.substr(slash + 1);
}

std::string InDirectory(const std::string& dir, const std::string& name) {
  return dir.empty() || dir.back() == '/' ? dir + name : dir + "/" + name;
}

bool IsDirectory(const std::string& path) {
  struct stat st {};
  return !path.empty() && stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool IsExistingFile(const std::string& path) {
  struct stat st {};
  return !path.empty() && stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool RealWriteTest(const std::string& path) {
  if (path.empty()) return false;
  if (IsExistingFile(path)) {
    const int fd = open(path.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) return false;
    close(fd);
    return true;
  }
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0644);
  if (fd < 0) return false;
  close(fd);
  unlink(path.c_str());
  return true;
}

// The checks of SubmitedInfoCorrect as a chain: each step continues with
// the next one when its message or question is answered.
struct TSubmitCheck : std::enable_shared_from_this<TSubmitCheck> {
  std::string path;
  std::string dir;
  std::string name;
  PromptPort* prompt = nullptr;
  std::function<bool(const std::string&)> inUse;
  std::function<bool(const std::string&)> createDirectory;
  std::function<bool(const std::string&)> writeTest;
  std::function<void(bool, bool)> done;
  bool ok = true;
  bool focus = false;

  void Fail(bool focusSaveAs) {
    ok = false;
    focus = focus || focusSaveAs;
  }
  void ExistingFile() {
    auto self = shared_from_this();
    if (!IsExistingFile(path)) return NameInUse();
    prompt->Ask(kCaption, TDownloadFileInfo::OverwriteQuestion(path), [self](bool yes) {
      if (!yes) self->Fail(false);
      self->NameInUse();
    });
  }
  void NameInUse() {
    auto self = shared_from_this();
    if (!(inUse && inUse(path))) return ValidPath();
    Fail(false);
    prompt->Message(kCaption, TDownloadFileInfo::kNameInUse, [self] { self->ValidPath(); });
  }
  void ValidPath() {
    auto self = shared_from_this();
    if (!name.empty() && !dir.empty()) return MissingDirectory();
    Fail(true);
    prompt->Message(kCaption, TDownloadFileInfo::kInvalidPath, [self] { self->MissingDirectory(); });
  }
  void MissingDirectory() {
    auto self = shared_from_this();
    if (IsDirectory(dir)) return WritableDirectory();
    prompt->Ask(kCaption, TDownloadFileInfo::CreateQuestion(dir), [self](bool yes) {
      if (!yes) {
        self->Fail(false);
        return self->WriteTest();
      }
      if (!self->dir.empty() && self->createDirectory(self->dir)) return self->WritableDirectory();
      self->Fail(true);
      self->prompt->Message(kCaption, TDownloadFileInfo::kCannotCreate, [self] { self->WriteTest(); });
    });
  }
  // The join makes the file in this directory: it must take a new file.
  // When it cannot, the file's own test would only fail again.
  void WritableDirectory() {
    auto self = shared_from_this();
    const int error = DirectoryWriteError(dir);
    if (error == 0) return WriteTest();
    Fail(true);
    prompt->Message(kCaption, TDownloadFileInfo::CannotWriteDirectory(dir, std::strerror(error)),
                    [self] { self->Finish(); });
  }
  void WriteTest() {
    auto self = shared_from_this();
    if (!writeTest || writeTest(path)) return Finish();
    Fail(true);
    prompt->Message(kCaption, TDownloadFileInfo::CannotWrite(path), [self] { self->Finish(); });
  }
  void Finish() {
    const auto callback = std::move(done);
    done = nullptr;
    if (callback) callback(ok, focus);
  }
};

}  // namespace

TDownloadFileInfo::TDownloadFileInfo(const TLocalDownloadinfo& record, TDownloadFileInfoServices services)
    : services_(std::move(services)) {
  if (!services_.CreateDirectory) services_.CreateDirectory = [](const std::string& dir) { return EnsureDirectory(dir); };
  if (!services_.WriteTest) services_.WriteTest = RealWriteTest;
  if (record.Checksum) proposedChecksum_ = record.Checksum->Text();
  if (!record.Url) return;
  url_ = record.Url->Url;
  // The browser's name is the file's: an address like ".../get?id=7" says
  // nothing of it.
  fileName_ = record.ProposedFileName.empty() ? UrlFileName(*record.Url) : record.ProposedFileName;
  if (services_.Categories && !fileName_.empty()) proposedCategory_ = services_.Categories->GetByFileName(fileName_);
  const std::string dir = FolderOf(proposedCategory_);
  proposedPath_ = fileName_.empty() ? InDirectory(dir, kUnknownName)
                                    : MakeUniqueFileName(InDirectory(dir, fileName_), services_.FileNameInUse);
}

std::string TDownloadFileInfo::FolderOf(const TCategory* category) const {
  // A category without a folder keeps its files where the others go.
  if (category && !category->SaveFolder().empty()) return category->SaveFolder();
  return DownloadDirectorySetting();
}

std::vector<std::string> TDownloadFileInfo::CategoryNames() const {
  return services_.Categories ? services_.Categories->CategoryNames() : std::vector<std::string>{};
}

std::string TDownloadFileInfo::PathForCategory(const std::string& name, const std::string& saveAs) const {
  const TCategory* category = services_.Categories ? services_.Categories->GetByName(name) : nullptr;
  if (!category) return saveAs;
  std::string dir, file;
  SplitPath(saveAs, dir, file);
  return InDirectory(FolderOf(category), file);
}

TDownloadFileInfo::TSaveDialogSetup TDownloadFileInfo::ChangeSetup(const std::string& saveAs,
                                                                     const std::string& lastDirectory) const {
  TSaveDialogSetup setup;
  SplitPath(saveAs, setup.Directory, setup.FileName);
  if (setup.FileName.empty()) setup.FileName = fileName_;
  if (setup.Directory.empty()) setup.Directory = lastDirectory.empty() ? DownloadDirectorySetting() : lastDirectory;
  if (setup.FileName.empty()) setup.FileName = kUnknownName;
  const std::string extension = ExtractFileExt(setup.FileName);
  if (extension.size() > 1) {
    setup.Filter = "(*" + extension + ");;All files (*)";
    setup.DefaultSuffix = extension.substr(1);
  }
  return setup;
}

std::string TDownloadFileInfo::ResolvePath(const std::string& typed) {
  std::string dir, name;
  SplitPath(typed, dir, name);
  if (dir.empty()) return typed;
  return InDirectory(TCategoryEditor::ResolveDirectory(dir), name);
}

void TDownloadFileInfo::SubmitedInfoCorrect(const std::string& typed, PromptPort& prompt,
                                            std::function<void(bool ok, bool focusSaveAs)> done) const {
  auto check = std::make_shared<TSubmitCheck>();
  check->path = ResolvePath(typed);
  SplitPath(check->path, check->dir, check->name);
  check->prompt = &prompt;
  check->inUse = services_.FileNameInUse;
  check->createDirectory = services_.CreateDirectory;
  check->writeTest = services_.WriteTest;
  check->done = std::move(done);
  check->ExistingFile();
}

void TDownloadFileInfo::DirectoryCorrect(const std::string& path, PromptPort& prompt,
                                         std::function<void(bool ok, bool focusSaveAs)> done) {
  auto check = std::make_shared<TSubmitCheck>();
  check->path = path;
  SplitPath(path, check->dir, check->name);
  check->prompt = &prompt;
  check->createDirectory = [](const std::string& dir) { return EnsureDirectory(dir); };
  check->done = std::move(done);
  check->ValidPath();
}

bool TDownloadFileInfo::ChecksumCorrect(const std::string& typed, PromptPort& prompt,
                                        std::optional<TChecksum>& checksum) {
  checksum.reset();
  if (typed.find_first_not_of(" \t") == std::string::npos) return true;
  std::string why;
  checksum = ParseChecksum(typed, &why);
  if (!checksum) prompt.Message(kCaption, "The checksum is not valid: " + why + ".", [] {});
  return checksum.has_value();
}

TNewDownloadAnswer TDownloadFileInfo::StartAnswer(const std::string& typed, const std::string& category,
                                                  const std::string& description) const {
  TNewDownloadAnswer answer = ScheduleAnswer(typed, category, description);
  answer.Kind = TNewDownloadAnswer::TKind::Start;
  if (category.empty()) {
    std::string dir, name;
    SplitPath(answer.LocalFileName, dir, name);
    if (!dir.empty()) Write(setting::DefaultDownloadDirectory, dir);
  }
  return answer;
}

TNewDownloadAnswer TDownloadFileInfo::ScheduleAnswer(const std::string& typed, const std::string& category,
                                                     const std::string& description) const {
  TNewDownloadAnswer answer;
  answer.Kind = TNewDownloadAnswer::TKind::Schedule;
  answer.LocalFileName = ResolvePath(typed);
  answer.Category = category;
  answer.Description = description;
  return answer;
}

}  // namespace brindle

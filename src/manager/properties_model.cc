#include "manager/properties_model.h"

#include "core/paths.h"
#include "core/file_names.h"
#include "core/log_error.h"
#include "core/presentation.h"
#include "core/settings_schema.h"
#include "core/download_status.h"
#include "manager/category.h"
#include "manager/download_file_info.h"
#include "manager/download_file_name.h"
#include "manager/download_system.h"
#include "manager/local_download_info.h"

namespace brindle {
namespace {

}  // namespace

TPropertiesModel::TPropertiesModel(TDownloadSystem& system, TLocalDownloadinfo& record)
    : system_(system), record_(&record), tempFileName_(record.TempFileName) {}

bool TPropertiesModel::RecordExists() const {
  const TLDIList& list = system_.DownloadList();
  for (int i = 0; i < list.Count(); ++i)
    if (list.Get(i) == record_) return record_->TempFileName == tempFileName_;
  return false;
}

std::string TPropertiesModel::Caption() const { return "Properties - " + NameOf(SaveTo()); }
std::string TPropertiesModel::Url() const { return RecordExists() ? record_->Url->Url : ""; }
std::string TPropertiesModel::SaveTo() const { return RecordExists() ? record_->LocalFileName : ""; }
std::string TPropertiesModel::CategoryName() const {
  return RecordExists() && record_->Category ? record_->Category->Name() : "";
}
std::string TPropertiesModel::Description() const { return RecordExists() ? record_->Description : ""; }
int64_t TPropertiesModel::SpeedLimit() const { return RecordExists() ? record_->SpeedLimit : 0; }
std::string TPropertiesModel::Checksum() const {
  return RecordExists() && record_->Checksum ? record_->Checksum->Text() : "";
}

std::string TPropertiesModel::Status() const { return RecordExists() ? record_->Status().Text() : ""; }
TStatusColor TPropertiesModel::StatusColor() const {
  return RecordExists() ? record_->Status().Color() : TStatusColor::Other;
}

std::string TPropertiesModel::SizeText() const {
  if (!RecordExists()) return "";
  const std::string size = BytesToPresentableString(record_->FileSize);
  if (record_->Status() == TDownloadState::Done) return size;
  return BytesToPresentableString(system_.BytesDownloaded(record_->TempFileName)) + " of " + size;
}

bool TPropertiesModel::PathEditable() const { return RecordExists() && record_->Status() != TDownloadState::Done; }

TSaveDialogSetup TPropertiesModel::ChangeDialog(const std::string& saveToText) const {
  TSaveDialogSetup setup;
  const size_t slash = saveToText.rfind('/');
  setup.InitialDirectory = slash == std::string::npos ? DownloadDirectorySetting()
                           : slash == 0               ? "/"
                                                      : saveToText.substr(0, slash);
  setup.FileName = NameOf(saveToText);
  if (setup.FileName.empty()) setup.FileName = "unknown";
  const std::string extension = ExtractFileExt(setup.FileName);
  setup.Extension = extension.empty() ? "" : extension.substr(1);
  return setup;
}

void TPropertiesModel::CheckSaveTo(const std::string& saveTo, PromptPort& prompt,
                                   std::function<void(bool ok)> done) const {
  if (!PathEditable()) return done(true);
  // An empty field keeps the stored path, which is checked instead.
  TDownloadFileInfo::DirectoryCorrect(saveTo.empty() ? SaveTo() : saveTo, prompt,
                                      [done = std::move(done)](bool ok, bool) { done(ok); });
}

bool TPropertiesModel::Ok(const std::string& saveTo, const std::string& description,
                          std::optional<int64_t> speedLimit, std::optional<TChecksum> checksum) {
  try {
    if (!RecordExists()) return false;
    if (PathEditable() && !saveTo.empty()) record_->LocalFileName = saveTo;
    if (PathEditable()) record_->Checksum = std::move(checksum);
    record_->Description = description;
    if (speedLimit) {
      system_.SetDownloadSpeedLimit(record_, *speedLimit);  // saves the record
    } else {
      record_->Save();
    }
    system_.UpdateGridRow(record_);
    return true;
  } catch (...) {
    LogError("TForm_Properties.OK");
    return false;
  }
}

int TPropertiesModel::StoredWidth() { return Read(setting::PropertiesFormWidth); }
int TPropertiesModel::StoredHeight() { return Read(setting::PropertiesFormHeight); }
void TPropertiesModel::StoreSize(int width, int height) {
  Write(setting::PropertiesFormWidth, width);
  Write(setting::PropertiesFormHeight, height);
}

}  // namespace brindle

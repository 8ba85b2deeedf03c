#include "engine/download_record.h"

#include "core/ascii_case.h"
#include "core/download_status.h"

namespace brindle {

TDownloadRecord::TDownloadRecord(std::unique_ptr<TUrl> url, std::string tempFileName)
    : Url(std::move(url)), TempFileName(std::move(tempFileName)) {
  if (!Url) Url = std::make_unique<TUrl>("");
}

TDownloadRecord::~TDownloadRecord() = default;

void TDownloadRecord::SetStatus(const TDownloadStatus& value) {
  if (status_.Running() && !(value == status_)) LastActivity = Now();
  status_ = value;
  if (status_ == TDownloadState::Done) ForgetBrowserSecrets();
}

const TServerValidators* TDownloadRecord::Validators(const std::string& serverKey) const {
  const auto found = validators_.find(serverKey);
  return found == validators_.end() ? nullptr : &found->second;
}

void TDownloadRecord::SetValidators(const std::string& serverKey, const TServerValidators& validators) {
  validators_[serverKey] = validators;
}

std::string TDownloadRecord::ServerKey(const TUrl& url) {
  return LowerCaseAscii(url.Protocol) + "://" + LowerCaseAscii(url.Host) + ":" + std::to_string(url.Port);
}

}  // namespace brindle

#include "manager/download_services.h"

#include "manager/after_downloads.h"
#include "manager/category_list.h"
#include "manager/download_system.h"
#include "manager/mirror_list_file.h"
#include "manager/modem_connection.h"
#include "manager/server_stats.h"
#include "manager/temp_directory_cleanup.h"

namespace brindle {

TDownloadServices::TDownloadServices(const TFrontEnd& frontEnd) {
  InstallDefaultMirrorList();
  categories_ = std::make_unique<TCategoryList>();
  if (frontEnd.TidyPartialDownloads) CleanUpTempDirectory(categories_.get());
  stats_ = std::make_unique<TServerStats>();
  modem_ = std::make_unique<TModemConnection>();
  afterDownloads_ = std::make_unique<TAfterDownloadsActions>(*modem_);
  TDownloadSystemServices services;
  services.Model = frontEnd.Model;
  services.Windows = frontEnd.Windows;
  services.Categories = categories_.get();
  services.ServerStats = stats_.get();
  services.AfterDownloads = afterDownloads_.get();
  services.Loop = frontEnd.Loop;
  services.RetryPermanentErrors = frontEnd.RetryPermanentErrors;
  services.ListShown = frontEnd.ListShown;
  system_ = std::make_unique<TDownloadSystem>(services);
}

TDownloadServices::~TDownloadServices() = default;

}  // namespace brindle

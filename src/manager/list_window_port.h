#pragma once

#include <memory>
#include <string>

namespace brindle {

class TPropertiesModel;

// The windows the list commands open, implemented by the front end.
class TListWindowPort {
 public:
  virtual ~TListWindowPort() = default;
  // Shows the properties window filled from properties; its OK calls
  // properties->Ok with the edited fields.
  virtual void ShowProperties(std::shared_ptr<TPropertiesModel> properties) = 0;
  // Shows text read-only in the viewer; path names the file shown.
  virtual void ViewFile(const std::string& path, const std::string& text) = 0;
};

}  // namespace brindle

#include "core/settings_schema.h"

namespace brindle {

void StoreDefaultExtensionsIfEmpty() {
  if (Read(setting::ExtensionsAsStored).empty()) Write(setting::Extensions, setting::Extensions.Default());
}

namespace setting {
namespace {

constexpr const char* kWeekdays[7] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr int kDownloadsColumnWidths[] = {150, 80, 60, 60, 60, 100, 100};
constexpr int kCategoriesColumnWidths[] = {150, 100, 60, 60};
constexpr int kMirrorsColumnWidths[] = {215, 52};
constexpr std::array<uint32_t, 6> kStandardColors = {kSystemWindowColor, 0x008000, 0x008080, 0xFF0000, 0x0000FF, 0};
constexpr std::array<uint32_t, 6> kBrindleColors = {0xF0FBFF, 0x008000, kSystemGrayTextColor, 0x800000, 0x000080, 0};

template <size_t N>
TIntegerSetting ColumnWidth(const char* grid, const int (&widths)[N], int column) {
  return {std::string("StringGrid_") + grid + "_ColWidth_" + std::to_string(column),
          column >= 0 && static_cast<size_t>(column) < N ? widths[column] : 0};
}

TWindowPosition Position(const std::string& section, int top, int left, int height, int width) {
  return {{"Top", top, nullptr, section},         {"Left", left, nullptr, section},
          {"Height", height, nullptr, section},   {"Width", width, nullptr, section},
          {"Maximized", false, nullptr, section}, {"Minimized", false, nullptr, section}};
}

}  // namespace

TBoolSetting ScheduledWeekly(int day) { return {std::string("ScheduledWeekly_") + kWeekdays[day], false}; }

TIntegerSetting ThemeColor(int theme, size_t role) {
  const char* prefix = theme == 0 ? "Standard_Color_" : theme == 1 ? "Brindle_Color_" : "Custom_Color_";
  return {prefix + std::string(kColorRoles[role]),
          static_cast<int>((theme == 1 ? kBrindleColors : kStandardColors)[role])};
}

TIntegerSetting DownloadsColumnWidth(int column) { return ColumnWidth("Downloads", kDownloadsColumnWidths, column); }
TIntegerSetting CategoriesColumnWidth(int column) { return ColumnWidth("Categories", kCategoriesColumnWidths, column); }
TIntegerSetting MirrorsColumnWidth(int column) { return ColumnWidth("Mirrors", kMirrorsColumnWidths, column); }

TWindowPosition WindowPosition(const std::string& section) { return Position(section, 10, 10, 450, 650); }

TWindowPosition MainWindowPositionAtConfiguration() { return Position("Form_Main Position", 100, 100, 250, 400); }

TStringSetting IgnoredLink(int number) { return {.Key = std::to_string(number), .Section = "IgnoreLinks"}; }

}  // namespace setting
}  // namespace brindle

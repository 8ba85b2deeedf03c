#pragma once

#include <QWidget>
#include <functional>
#include <string>

namespace brindle {

// The download basket: a small stay-on-top tool window that takes links
// dropped on it. It keeps to the screen, snaps to its edges and remembers
// where it stood.
class TForm_DragAndDropBox final : public QWidget {
  Q_OBJECT

 public:
  static constexpr const char* kPositionSection = "Form_DragAndDropBox Position";
  static constexpr int kWidth = 60;
  static constexpr int kHeight = 80;
  static constexpr int kSnapDistance = 5;

  // addUrl hands a dropped address to the download system (the main
  // window's AddDownloadFromUrl).
  explicit TForm_DragAndDropBox(std::function<bool(const std::string&)> addUrl, QWidget* parent = nullptr);

  // Where a window of frame size may stand in the screen's free area: on
  // it, and flush with an edge it comes within kSnapDistance of.
  static QPoint Snapped(const QRect& frame, const QRect& screen);

  // Runs when the box closes (the main window unticks its menu item).
  std::function<void()> OnClosed;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void moveEvent(QMoveEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  void KeepOnScreen();
  void SavePlacement();

  std::function<bool(const std::string&)> addUrl_;
  bool adjusting_ = false;
};

}  // namespace brindle

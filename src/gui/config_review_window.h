// The review shown before a configuration file or set is loaded: what the
// load would change on the unit, setting by setting, with "Load" and
// "Cancel". Modal. Escape and closing the window cancel; Enter loads only
// while "Load" has the focus (otherwise Enter is "Cancel").
#pragma once

#include <QDialog>

#include "params/config_review.h"

class QLabel;
class QPushButton;
class QTabWidget;
class QTableWidget;

namespace vecta::gui {

inline constexpr const char* kReviewWindowTitle = "Review configuration before loading";

class ConfigReviewWindow : public QDialog {
  Q_OBJECT

 public:
  explicit ConfigReviewWindow(const params::ConfigReview& review, QWidget* parent = nullptr);

  // For tests and the screenshot tool.
  QLabel* BoardLabel() const { return board_; }
  QLabel* CountsLabel() const { return counts_; }
  // One table per configuration (a single file has one, and no tabs).
  const std::vector<QTableWidget*>& Tables() const { return tables_; }
  // The configuration tabs of a set, else nullptr.
  QTabWidget* ConfigTabs() const { return tabs_; }
  QPushButton* LoadButton() const { return load_; }
  QPushButton* CancelButton() const { return cancel_; }

 private:
  QWidget* ConfigPage(const params::ConfigurationReview& config);

  QLabel* board_ = nullptr;
  QLabel* counts_ = nullptr;
  QTabWidget* tabs_ = nullptr;
  std::vector<QTableWidget*> tables_;
  QPushButton* load_ = nullptr;
  QPushButton* cancel_ = nullptr;
};

// Shows the review modally; true when the operator chose "Load".
bool ShowConfigReview(QWidget* parent, const params::ConfigReview& review);

}  // namespace vecta::gui

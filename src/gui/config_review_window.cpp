#include "gui/config_review_window.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTabBar>
#include <QTabWidget>
#include <QTableWidget>
#include <QVBoxLayout>

#include "gui/accessibility.h"
#include "gui/q_string.h"

namespace vecta::gui {
namespace {

QTableWidgetItem* Cell(const std::string& text) {
  auto* item = new QTableWidgetItem(Q(text));
  item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
  return item;
}

QString FileLine(const params::ConfigReview& review) {
  return QString("%1: %2").arg(review.set ? "Config set" : "Config file", Q(review.file));
}

}  // namespace

ConfigReviewWindow::ConfigReviewWindow(const params::ConfigReview& review, QWidget* parent) : QDialog(parent) {
  setWindowTitle(kReviewWindowTitle);
  setModal(true);
  auto* layout = new QVBoxLayout(this);
  auto* file = new QLabel(FileLine(review), this);
  file->setTextInteractionFlags(Qt::TextSelectableByMouse);
  layout->addWidget(file);
  layout->addWidget(new QLabel(Q(params::BasisText(review)), this));
  board_ = new QLabel(Q(params::BoardText(review)), this);
  board_->setObjectName("reviewBoard");
  board_->setStyleSheet("font-weight: bold");
  board_->setVisible(review.otherBoard);
  layout->addWidget(board_);

  if (review.set) {
    tabs_ = new QTabWidget(this);
    for (const params::ConfigurationReview& config : review.configs) {
      const QString mark = !config.read ? " (?)" : config.Differing() ? " *" : "";
      tabs_->addTab(ConfigPage(config), Q(params::ConfigName(config)) + mark);
    }
    layout->addWidget(tabs_, 1);
  } else {
    layout->addWidget(ConfigPage(review.configs.front()), 1);
  }
  counts_ = new QLabel(Q(params::CountsText(review)), this);
  counts_->setObjectName("reviewCounts");
  layout->addWidget(counts_);

  // Cancel is the default button: Enter anywhere but on Load cancels.
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  cancel_ = new QPushButton("Cancel", this);
  load_ = new QPushButton("Load", this);
  buttons->addWidget(load_);
  buttons->addWidget(cancel_);
  layout->addLayout(buttons);
  cancel_->setDefault(true);
  QWidget::setTabOrder(load_, cancel_);
  connect(load_, &QPushButton::clicked, this, &QDialog::accept);
  connect(cancel_, &QPushButton::clicked, this, &QDialog::reject);
  if (!tables_.empty()) tables_.front()->setFocus();
  setMinimumSize(640, 400);
  if (tabs_) tabs_->tabBar()->setAccessibleName("Configs");
  MakeAccessible(this);
}

QWidget* ConfigReviewWindow::ConfigPage(const params::ConfigurationReview& config) {
  auto* page = new QWidget(this);
  auto* layout = new QVBoxLayout(page);
  layout->setContentsMargins(0, 0, 0, 0);
  auto* table = new QTableWidget(static_cast<int>(config.differing.size()), 3, page);
  table->setHorizontalHeaderLabels({"Setting", "Unit's value", "File's value"});
  table->setAccessibleName("Settings that differ");
  table->verticalHeader()->hide();
  table->setSelectionBehavior(QAbstractItemView::SelectRows);
  table->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table->horizontalHeader()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
  table->horizontalHeader()->setSectionResizeMode(1, QHeaderView::Stretch);
  table->horizontalHeader()->setSectionResizeMode(2, QHeaderView::Stretch);
  for (int i = 0; i < static_cast<int>(config.differing.size()); ++i) {
    const params::ReviewLine& line = config.differing[static_cast<std::size_t>(i)];
    table->setItem(i, 0, Cell(line.caption));
    table->item(i, 0)->setToolTip(Q(line.mnemonic));
    table->setItem(i, 1, Cell(line.unitValue));
    table->setItem(i, 2, Cell(line.fileValue));
  }
  layout->addWidget(table, 1);
  if (tabs_ || !config.read) layout->addWidget(new QLabel(Q(params::CountsText(config)), page));
  tables_.push_back(table);
  return page;
}

bool ShowConfigReview(QWidget* parent, const params::ConfigReview& review) {
  ConfigReviewWindow window(review, parent);
  return window.exec() == QDialog::Accepted;
}

}  // namespace vecta::gui

// TPreviewDialog: what a dry run found, before the merge is made: the counts
// of both sides and of the new data set, the records the merge leaves out and
// every name it changes, one table each; the report can be saved as JSON.
#pragma once

#include <QDialog>

#include "app/run_report.h"

class QTableWidget;
class QPushButton;
class QTabWidget;

namespace razere::gui {

class TPreviewDialog : public QDialog {
  Q_OBJECT
 public:
  TPreviewDialog(QWidget* owner, RunReport report);

  QTabWidget* Pages;
  QTableWidget* TableCounts;
  QTableWidget* TableRemoved;
  QTableWidget* TableRenames;
  QPushButton* ButtonSave;

  // Writes the report to path; false (after a message) when it cannot.
  bool SaveReport(const std::string& path);

 private:
  RunReport report_;
};

}  // namespace razere::gui

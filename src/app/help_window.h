#pragma once
// The program's help: one HTML page per numbered topic, compiled into the program and shown
// in one help window that stays open beside the program.
#include <QDialog>

class QTextBrowser;

namespace kv {

class THelpWindow : public QDialog {
  Q_OBJECT
 public:
  // Shows the topic in the program's help window, creating the window when needed.
  static THelpWindow *showTopic(int topic);
  // The page of a topic, or a page saying there is none.
  static QString topicHtml(int topic);
  int currentTopic() const { return topic_; }
  QTextBrowser *browser() const { return browser_; }

 private:
  THelpWindow();
  void open(int topic);
  QTextBrowser *browser_;
  int topic_ = 0;
};

}  // namespace kv

#pragma once
// Files dragged from a file manager onto a window: the ones a window wants are handed to it,
// and no drop of files ever reaches the controls beneath (a text control would insert the
// files' addresses as text).
#include <QObject>
#include <QStringList>
#include <functional>

class QMimeData;
class QWidget;

namespace kv {

class TFileDrop : public QObject {
  Q_OBJECT
 public:
  using Wanted = std::function<bool(const QString &path)>;
  using Take = std::function<void(const QString &path)>;

  // Watches `target` (and its viewport, for a scroll area); owned by it. A drag of files is
  // accepted when `wanted` accepts one of them, and the drop hands each such file to `take`.
  static TFileDrop *Install(QWidget *target, Wanted wanted, Take take);

  // The local files a drag carries, in order; empty for a drag of anything else.
  static QStringList LocalFiles(const QMimeData *mime);

 protected:
  bool eventFilter(QObject *watched, QEvent *event) override;

 private:
  TFileDrop(QObject *parent, Wanted wanted, Take take);
  QStringList wantedFiles(const QMimeData *mime) const;
  Wanted wanted_;
  Take take_;
};

// A PDF document, told by its first bytes.
bool IsPdfFile(const QString &path);

}  // namespace kv

#include "ui/data_folder.h"

#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QMimeData>

namespace tarvel {

FolderDialog SystemFolderDialog() {
  return [](QWidget* owner, const QString& title, const QString& start) {
    return QFileDialog::getExistingDirectory(owner, title, start);
  };
}

void BrowseForDataFolder(QWidget* owner, QLineEdit* edit, Settings& settings,
                         const FolderDialog& dialog) {
  const QString start = QString::fromUtf16(settings.PathDataFolder.data(),
                                           static_cast<qsizetype>(settings.PathDataFolder.size()));
  QString chosen = dialog(owner, QString::fromUtf16(kBrowseTitle), start);
  if (chosen.isEmpty()) return;
  edit->setText(chosen);
  settings.PathDataFolder = chosen.toStdU16String();
}

std::optional<QString> FirstDroppedFolder(const QList<QUrl>& urls) {
  for (const QUrl& url : urls) {
    if (!url.isLocalFile()) continue;
    QFileInfo info(url.toLocalFile());
    if (!info.exists()) return std::nullopt;
    if (info.isDir()) return QDir::cleanPath(info.absoluteFilePath());
  }
  return std::nullopt;
}

std::optional<QString> FolderFromArguments(const QStringList& arguments, QString* missing) {
  for (qsizetype i = 1; i < arguments.size(); ++i) {
    const QString& argument = arguments[i];
    if (argument.isEmpty() || (argument.startsWith('-') && argument != QLatin1String("-"))) {
      continue;
    }
    // Some file managers pass a URL even for %f.
    const QUrl url(argument);
    const QString path = url.isLocalFile() ? url.toLocalFile() : argument;
    QFileInfo info(path);
    if (info.isDir()) return QDir::cleanPath(info.absoluteFilePath());
    if (missing != nullptr) *missing = argument;
    return std::nullopt;
  }
  return std::nullopt;
}

DataFolderEdit::DataFolderEdit(QWidget* parent) : QLineEdit(parent) { setAcceptDrops(true); }

void DataFolderEdit::dragEnterEvent(QDragEnterEvent* event) {
  if (event->mimeData()->hasUrls()) event->acceptProposedAction();
}

void DataFolderEdit::dragMoveEvent(QDragMoveEvent* event) {
  if (event->mimeData()->hasUrls()) event->acceptProposedAction();
}

void DataFolderEdit::dropEvent(QDropEvent* event) {
  if (!event->mimeData()->hasUrls()) return;
  if (auto folder = FirstDroppedFolder(event->mimeData()->urls())) setText(*folder);
  event->acceptProposedAction();
}

}  // namespace tarvel

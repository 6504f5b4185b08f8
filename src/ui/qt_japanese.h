// Qt's own texts (the file and folder choosers, the standard buttons) in
// Japanese, whatever the locale: the window itself is Japanese, and a
// chooser in another language beside it reads as a different program.
#ifndef TARVEL_UI_QT_JAPANESE_H_
#define TARVEL_UI_QT_JAPANESE_H_

#include <QString>

class QCoreApplication;
class QTranslator;

namespace tarvel {

// Installs Qt's Japanese translation ("qtbase_ja" from `folder`, Qt's
// translations folder when empty) into `app`. The translator, owned by
// `app`, or nullptr when the translation is not installed (the package
// qt6-translations-l10n), in which case Qt's texts stay English.
QTranslator* InstallQtJapanese(QCoreApplication& app, const QString& folder = QString());

}  // namespace tarvel

#endif  // TARVEL_UI_QT_JAPANESE_H_

// The About box: printer icon, program version and the maker's notice.
#pragma once

#include <QDialog>

class Ui_VersionDialog;
class QGraphicsScene;

class VersionDialog : public QDialog
{
    Q_OBJECT

public:
    explicit VersionDialog(QWidget *parent = nullptr);
    ~VersionDialog() override;

private:
    Ui_VersionDialog *ui;
};

// Version shown in the About box; fixed text, not translated.
inline constexpr char kStatusProgramVersion[] = "1.0.0";
// The maker's notice line of the About box; not translated.
inline constexpr char kStatusCopyrightNotice[] = "Copyright \u00a9 2021 VANTORA Systems";

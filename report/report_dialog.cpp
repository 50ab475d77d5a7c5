#include "report/report_dialog.h"

#include "resources/app_icons.h"

#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>

namespace mistvale {

namespace {

constexpr int kMaxDescription = 2047;

QString Link(const std::string& path) {
    const QString full = QString::fromStdString(path);
    return QStringLiteral("<a href=\"%1\">%2</a>")
        .arg(full.toHtmlEscaped(), QFileInfo(full).fileName().toHtmlEscaped());
}

QLabel* LinkLabel(const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setWordWrap(true);
    label->setTextFormat(Qt::RichText);
    // The links name local files; they open with the desktop's viewer.
    QObject::connect(label, &QLabel::linkActivated, [](const QString& target) {
        QUrl url(target);
        QDesktopServices::openUrl(url.scheme().isEmpty() ? QUrl::fromLocalFile(target) : url);
    });
    return label;
}

} // namespace

QDialog* BuildReportDialog(const QString& product, const QString& company, const QString& website,
                           const ReportFiles& files) {
    auto* dialog = new QDialog();
    dialog->setWindowTitle(QStringLiteral("%1 has stopped working.").arg(product));
    dialog->setWindowIcon(IconById(kIconApp));
    auto* layout = new QVBoxLayout(dialog);

    auto* top = new QHBoxLayout();
    auto* icon = new QLabel(dialog);
    icon->setPixmap(IconById(kIconApp).pixmap(48, 48));
    icon->setAlignment(Qt::AlignTop);
    top->addWidget(icon);
    const QString who = company.isEmpty() ? QStringLiteral("us") : company;
    QString tell = QStringLiteral("Please tell %1 about this problem.").arg(who.toHtmlEscaped());
    if (!website.isEmpty())
        tell += QStringLiteral("<br><br>You can check the website <a href=\"%1\">%2</a> for a newer version.")
                    .arg(website.toHtmlEscaped(), website.toHtmlEscaped());
    top->addWidget(LinkLabel(tell, dialog), 1);
    layout->addLayout(top);

    layout->addWidget(new QLabel(
        QStringLiteral("Can you please describe what you were doing when the problem occurred?"), dialog));
    auto* description = new QPlainTextEdit(dialog);
    // Tab moves on to the next field, as in every other field of the dialog.
    description->setTabChangesFocus(true);
    description->setObjectName(kReportDescription);
    description->setPlaceholderText(QStringLiteral(" optional"));
    QObject::connect(description, &QPlainTextEdit::textChanged, [description] {
        const QString text = description->toPlainText();
        if (text.size() > kMaxDescription) {
            description->setPlainText(text.left(kMaxDescription));
            description->moveCursor(QTextCursor::End);
        }
    });
    layout->addWidget(description, 1);
    layout->addWidget(new QLabel(
        QStringLiteral(
            "Your E-mail address. It will be kept private. Only used to contact you for more details."),
        dialog));
    auto* email = new QLineEdit(dialog);
    email->setObjectName(kReportEmail);
    email->setPlaceholderText(QStringLiteral(" optional"));
    layout->addWidget(email);

    QString note;
    if (!files.dump.empty())
        note =
            QStringLiteral("The files %1 and %2 will be send. They do not contain any personal information.")
                .arg(Link(files.text), Link(files.dump));
    else
        note = QStringLiteral("The file %1 will be send. It does not contain any personal information.")
                   .arg(Link(files.text));
    layout->addWidget(LinkLabel(note, dialog));

    auto* buttons = new QDialogButtonBox(dialog);
    QPushButton* send =
        buttons->addButton(QStringLiteral("Send Problem Report"), QDialogButtonBox::AcceptRole);
    send->setObjectName(kReportSend);
    send->setDefault(true);
    QPushButton* dontSend = buttons->addButton(QStringLiteral("Don't Send"), QDialogButtonBox::RejectRole);
    dontSend->setObjectName(kReportDontSend);
    QObject::connect(buttons, &QDialogButtonBox::accepted, dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
    layout->addWidget(buttons);
    dialog->resize(dialog->sizeHint().expandedTo(QSize(480, 360)));
    return dialog;
}

int RunReportDialog(const std::string& product, const ReportFiles& files, ReportDialogAnswer& answer) {
    QDialog* dialog =
        BuildReportDialog(QString::fromStdString(product), QStringLiteral("Vantorel"), QString(), files);
    const int sent = dialog->exec() == QDialog::Accepted ? 1 : 0;
    if (sent) {
        answer.description =
            dialog->findChild<QPlainTextEdit*>(kReportDescription)->toPlainText().toStdString();
        answer.email = dialog->findChild<QLineEdit*>(kReportEmail)->text().toStdString();
    }
    delete dialog;
    return sent;
}

} // namespace mistvale

#include "ui/send_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "send/desktop_mail.h"
#include "ui/qt_prompter.h"

namespace quillet::ui {
namespace {

QString Q(std::string_view s) { return QString::fromUtf8(s.data(), qsizetype(s.size())); }
std::string S(const QString& s) { return s.toStdString(); }

QLineEdit* Field(QWidget* parent, const std::string& text, const char* name) {
  auto* edit = new QLineEdit(Q(text), parent);
  edit->setObjectName(name);
  return edit;
}

// OK goes through check; the dialog closes only when it returns true.
class CheckedOk final : public QDialog {
 public:
  CheckedOk(QWidget* parent, std::string_view title) : QDialog(parent) { setWindowTitle(Q(title)); }
  std::function<bool()> check;
  void accept() override {
    if (!check || check()) QDialog::accept();
  }
};

QDialogButtonBox* OkCancel(QDialog* d) {
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, d);
  QObject::connect(buttons, &QDialogButtonBox::accepted, d, &QDialog::accept);
  QObject::connect(buttons, &QDialogButtonBox::rejected, d, &QDialog::reject);
  return buttons;
}

}  // namespace

bool RunEmailSettingsDialog(QWidget* parent, settings::Settings& s, send::SessionPasswords& session) {
  send::EmailSettings values = send::EmailSettings::Load(s, session);
  CheckedOk d(parent, send::kEmailSettingsTitle);
  d.setObjectName("LEmailSettingsDlg");
  auto* desktop = new QRadioButton(Q(send::kDesktopMailLabel), &d);
  auto* smtp = new QRadioButton(Q(send::kSmtpLabel), &d);
  desktop->setObjectName("desktop");
  smtp->setObjectName("smtp");
  (values.useDesktop ? desktop : smtp)->setChecked(true);
  auto* host = Field(&d, values.smtpHost, "host");
  auto* replyTo = Field(&d, values.replyTo, "replyTo");
  auto* remember = new QCheckBox(Q(send::kRememberLabel), &d);
  remember->setObjectName("remember");
  remember->setChecked(values.rememberPassword);
  auto* warning = new QLabel(Q(send::kPlainWarning), &d);
  warning->setWordWrap(true);
  auto* hostLabel = new QLabel(Q(send::kSmtpHostLabel), &d);
  hostLabel->setWordWrap(true);
  auto* replyToLabel = new QLabel(Q(send::kReplyToLabel), &d);

  auto* layout = new QVBoxLayout(&d);
  layout->addWidget(desktop);
  layout->addWidget(smtp);
  layout->addWidget(hostLabel);
  layout->addWidget(host);
  layout->addWidget(replyToLabel);
  layout->addWidget(replyTo);
  layout->addWidget(remember);
  layout->addWidget(warning);
  layout->addWidget(OkCancel(&d));
  auto enable = [=] {
    for (QWidget* w : {static_cast<QWidget*>(host), static_cast<QWidget*>(replyTo),
                       static_cast<QWidget*>(remember), static_cast<QWidget*>(warning),
                       static_cast<QWidget*>(hostLabel), static_cast<QWidget*>(replyToLabel)})
      w->setEnabled(smtp->isChecked());
  };
  QObject::connect(smtp, &QRadioButton::toggled, &d, enable);
  enable();

  d.check = [&] {
    values.useDesktop = desktop->isChecked();
    values.smtpHost = S(host->text());
    values.replyTo = S(replyTo->text());
    values.rememberPassword = remember->isChecked();
    if (const auto refusal = values.Validate(send::DesktopMailAvailable())) {
      ShowMessageBox(&d, refusal->text, refusal->caption, platform::MessageIcon::Error,
                     platform::MessageButtons::Ok);
      return false;
    }
    values.Store(s, session);
    return true;
  };
  return d.exec() == QDialog::Accepted;
}

bool RunSendFileDialog(QWidget* parent, settings::Settings& s, send::SendFileSettings& values,
                       send::SessionPasswords& session, const send::SendFront::SendAction& send) {
  CheckedOk d(parent, send::kSendDialogTitle);
  d.setObjectName("LSendFileDlg");
  auto* group = new QGroupBox(Q(send::kSendMethodLabel), &d);
  auto* email = new QRadioButton(Q(send::kEmailMethodLabel), group);
  auto* ftp = new QRadioButton(Q(send::kFtpMethodLabel), group);
  email->setObjectName("email");
  ftp->setObjectName("ftp");
  (values.method == send::SendMethod::Ftp ? ftp : email)->setChecked(true);

  auto* address = Field(group, values.address, "address");
  auto* settingsButton = new QPushButton(Q(send::kEmailSettingsButton), group);
  settingsButton->setObjectName("settings");
  auto* addressRow = new QHBoxLayout;
  addressRow->addWidget(new QLabel(Q(send::kEmailAddressLabel), group));
  addressRow->addWidget(address, 1);
  addressRow->addWidget(settingsButton);

  auto* server = Field(group, values.ftpServer, "server");
  auto* user = Field(group, values.ftpUser, "user");
  auto* password = Field(group, values.ftpPassword, "password");
  password->setEchoMode(QLineEdit::Password);
  auto* directory = Field(group, values.ftpDirectory, "directory");
  auto* secure = new QCheckBox(Q(send::kFtpSecureLabel), group);
  secure->setObjectName("secure");
  secure->setChecked(values.ftpSecure);
  auto* ftpForm = new QFormLayout;
  ftpForm->addRow(Q(send::kFtpServerLabel), server);
  ftpForm->addRow(Q(send::kFtpUserLabel), user);
  ftpForm->addRow(Q(send::kFtpPasswordLabel), password);
  ftpForm->addRow(Q(send::kFtpDirectoryLabel), directory);
  ftpForm->addRow(QString(), secure);

  auto* groupLayout = new QVBoxLayout(group);
  groupLayout->addWidget(email);
  groupLayout->addLayout(addressRow);
  groupLayout->addWidget(ftp);
  groupLayout->addLayout(ftpForm);

  auto* format = new QComboBox(&d);
  format->setObjectName("format");
  for (const std::string& ext : send::SendFormats()) format->addItem(Q(ext));
  const int stored = format->findText(Q(values.format));
  format->setCurrentIndex(stored >= 0 ? stored : 0);
  auto* remember = new QCheckBox(Q(send::kRememberLabel), &d);
  remember->setObjectName("remember");
  remember->setChecked(values.rememberPasswords);
  auto* bottom = new QFormLayout;
  bottom->addRow(Q(send::kFormatLabel), format);
  bottom->addRow(QString(), remember);

  auto* layout = new QVBoxLayout(&d);
  layout->addWidget(group);
  layout->addLayout(bottom);
  layout->addWidget(OkCancel(&d));

  auto enable = [=] {
    const bool byMail = email->isChecked();
    address->setEnabled(byMail);
    settingsButton->setEnabled(byMail);
    for (QWidget* w : {static_cast<QWidget*>(server), static_cast<QWidget*>(user),
                       static_cast<QWidget*>(password), static_cast<QWidget*>(directory),
                       static_cast<QWidget*>(secure)})
      w->setEnabled(!byMail);
  };
  QObject::connect(email, &QRadioButton::toggled, &d, enable);
  enable();
  QObject::connect(settingsButton, &QPushButton::clicked, &d,
                   [&] { RunEmailSettingsDialog(&d, s, session); });

  d.check = [&] {
    values.method = ftp->isChecked() ? send::SendMethod::Ftp : send::SendMethod::Email;
    values.address = S(address->text());
    values.ftpServer = S(server->text());
    values.ftpUser = S(user->text());
    values.ftpPassword = S(password->text());
    values.ftpDirectory = S(directory->text());
    values.ftpSecure = secure->isChecked();
    values.format = S(format->currentText());
    values.rememberPasswords = remember->isChecked();
    return send(values);
  };
  return d.exec() == QDialog::Accepted;
}

}  // namespace quillet::ui

#include "about_window.h"

#include <QLabel>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>


namespace tarvex {

namespace {

const char* const kDescription = "O aplicatie pentru mixarea sau inramarea unor fotografii ...";
const char* const kDisclaimer =
    "Pentru inramare utilizatorul are nevoie de o pictura care contine un cadru colorat plin cu o culoare de "
    "transparenta .... Culoarea de transparenta este citita de aplicatie de obicei din centrul ramei ...";

QLabel* label(QWidget* parent, const char* name, const QString& text, QRect geometry, bool bigFont)
{
    auto* l = new QLabel(text, parent);
    l->setObjectName(QString::fromLatin1(name));
    l->setGeometry(geometry);
    l->setWordWrap(true);
    l->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    QPalette pal = l->palette();
    pal.setColor(QPalette::WindowText, Qt::black);
    l->setPalette(pal);
    if (bigFont) {
        QFont font(QStringLiteral("MS Sans Serif"));
        font.setPointSizeF(13.5);
        l->setFont(font);
    }
    return l;
}

}  // namespace

AboutWindow::Services AboutWindow::systemServices()
{
    return {about::systemRegistry(), about::systemLauncher(),
            [](QWidget* parent, const QString& text) {
                QMessageBox box(QMessageBox::NoIcon, QString::fromLatin1(kTitle), text, QMessageBox::Ok, parent);
                box.exec();
            },
            {}};
}

AboutWindow::AboutWindow(Services services)
    : QDialog(nullptr, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                           Qt::MSWindowsFixedSizeDialogHint),
      services_(std::move(services))
{
    setObjectName(QStringLiteral("frmAbout"));
    setModal(false);
    setFixedSize(382, 237);
    setGeometry(156, 129, 382, 237);

    auto* picIcon = new QLabel(this);
    picIcon->setObjectName(QStringLiteral("picIcon"));
    picIcon->setGeometry(16, 16, 36, 36);
    picIcon->setPixmap(QPixmap::fromImage(services_.icon));
    picIcon->setAlignment(Qt::AlignCenter);

    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(QStringLiteral("cmdOK"));
    ok->setGeometry(283, 175, 84, 23);
    ok->setDefault(true);
    auto* sysInfo = new QPushButton(QStringLiteral("&System Info..."), this);
    sysInfo->setObjectName(QStringLiteral("cmdSysInfo"));
    sysInfo->setGeometry(284, 205, 83, 23);
    // A caption wider than its button in the font in use widens the button
    // to the left: the right edges stay aligned with the window's margin.
    for (QPushButton* b : {ok, sysInfo}) {
        const int needed = b->sizeHint().width();
        if (needed > b->width())
            b->setGeometry(b->geometry().right() + 1 - needed, b->y(), needed, b->height());
    }
    connect(ok, &QPushButton::clicked, this, &AboutWindow::cmdOK_Click);
    connect(sysInfo, &QPushButton::clicked, this, &AboutWindow::cmdSysInfo_Click);

    auto* description = label(this, "lblDescription", QString::fromLatin1(kDescription), {70, 75, 259, 78}, true);
    auto* title = label(this, "lblTitle", QStringLiteral("Application Title"), {70, 16, 259, 32}, true);
    auto* version = label(this, "lblVersion", QStringLiteral("Version"), {70, 52, 259, 15}, false);
    auto* disclaimer = label(this, "lblDisclaimer", QString::fromLatin1(kDisclaimer), {17, 175, 258, 55}, false);
    Q_UNUSED(title);
    Q_UNUSED(version);

    // Tab order: cmdOK, picIcon, cmdSysInfo, lblDescription, lblDisclaimer.
    setTabOrder(ok, sysInfo);
    description->setAccessibleName(description->text());
    disclaimer->setAccessibleName(disclaimer->text());
    ok->setFocus();
    Form_Load();
}

void AboutWindow::Form_Load()
{
    setWindowTitle(QStringLiteral("About ") + QString::fromLatin1(kTitle));
    findChild<QLabel*>(QStringLiteral("lblVersion"))
        ->setText(QStringLiteral("Version %1.%2.%3")
                      .arg(TARVEX_VERSION_MAJOR)
                      .arg(TARVEX_VERSION_MINOR)
                      .arg(TARVEX_VERSION_PATCH));
    findChild<QLabel*>(QStringLiteral("lblTitle"))->setText(QString::fromLatin1(kTitle));
}

void AboutWindow::cmdOK_Click()
{
    close();
}

void AboutWindow::cmdSysInfo_Click()
{
    about::StartSysInfo(*services_.registry, *services_.launcher,
                        [this](const QString& text) { services_.message(this, text); });
}

void AboutWindow::paintEvent(QPaintEvent* event)
{
    QDialog::paintEvent(event);
    // The engraved separator: a grey line with a white one just below it.
    QPainter p(this);
    p.setPen(QPen(QColor(128, 128, 128), 1));
    p.drawLine(6, 163, 377, 163);
    p.setPen(QPen(Qt::white, 2));
    p.drawLine(7, 165, 377, 165);
}

}  // namespace tarvex

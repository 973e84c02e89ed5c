// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "browse/coremain.h"

#include "app/constants.h"
#include "admin/changepwddialog.h"
#include "admin/classlistmodel.h"
#include "admin/metadaticategories.h"
#include "app/prompts.h"
#include "service/kvdialoglogin.h"
#include "service/kvwconn.h"
#include "service/proxydialog.h"
#include "service/sessioncookiejar.h"
#include "browse/traypresence.h"
#include "browse/usagefigures.h"
#include "ui_coremain.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDragEnterEvent>
#include <QHeaderView>
#include <QMouseEvent>
#include <QScrollBar>
#include <QScreen>
#include <QTextDocument>
#include <QtMath>
#include <QSignalBlocker>
#include <QUrl>
#include <QSqlQuery>
#include <QtCharts/QChart>
#include <QtCharts/QChartView>

CoreMain::CoreMain()
    : QDialog(nullptr)
    , loadingMovie(QStringLiteral(":/images/loading.gif"))
{
    // Every window of the client, whatever its parent, carries the icon of
    // the application and of its tray.
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/images/tavrellite.png")));

    // 2. The jar that carries the session, then the window's own connection.
    jar = new SessionCookieJar();
    conn = new KVWConn(jar, false, nullptr);
    nameBucket = tr("Nessun Profilo");
    pathPattern = QStringLiteral("%");

    // 3. The file actions of the list's context menu.
    actStoria = new QAction(tr("Storia"), this);
    actEsibisci = new QAction(tr("Esibisci"), this);
    actRettifica = new QAction(tr("Rettifica"), this);
    actScarica = new QAction(tr("Scarica"), this);

    // 4. The login dialog shares the jar and has no parent; the tray and its
    // menu stand by it.
    dialogLogin = new KvDialogLogin(jar);
    tray = new TrayPresence(this, dialogLogin, settings.getSetting(QStringLiteral("username")), nameBucket, this);

    // 5. The form.
    ui = new Ui::CoreMain;
    ui->setupUi(this);
    setWindowFlags(Qt::Window);
    setWindowTitle(tr("Tavrel Lite"));
    // It opens no larger than the screen, its frame included.
    if (QScreen *shownOn = screen())
        resize(size().boundedTo(shownOn->availableGeometry().size() - QSize(16, 48)));

    // 6-7.
    ui->tbwFile->setContextMenuPolicy(Qt::CustomContextMenu);
    ui->tbwMetadati->horizontalHeader()->hide();
    ui->tbwMetadati->verticalHeader()->hide();
    ui->hwBottoniera->hide();
    detailsShown = true;
    showHideDetail();
    showListFile();

    // 8.
    ui->lblChangePwd->installEventFilter(this);
    ui->btmAggiungiCat->hide();
    ui->btmDeleteCateg->hide();

    // 9. Wiring of the frame.
    connect(ui->tbwFile, &QWidget::customContextMenuRequested, this, &CoreMain::onContextualMenu);
    connect(ui->btmLogout, &QAbstractButton::clicked, this, &CoreMain::onClickLogout);
    connect(dialogLogin, &KvDialogLogin::loginOK, this, &CoreMain::onLoginOK);
    connect(dialogLogin, &KvDialogLogin::loginKO, this, &CoreMain::onLoginKO);
    connect(ui->btmMetadati, &QAbstractButton::clicked, this, &CoreMain::onClickShowMetadataCurrent);
    connect(ui->btmListFile, &QAbstractButton::clicked, this, &CoreMain::showListFile);
    connect(ui->btmSettings, &QAbstractButton::clicked, this, &CoreMain::showSettings);
    connect(ui->twCategorie, &QAbstractItemView::doubleClicked, this,
            qOverload<QModelIndex>(&CoreMain::onClickShowMetadata));
    connect(ui->leSearchCateg, &QLineEdit::textChanged, this, &CoreMain::onFilterListCateg);
    connect(ui->btmHelp, &QAbstractButton::clicked, this, &CoreMain::onClickHelp);
    connect(ui->btmSettingsProxy, &QAbstractButton::clicked, this, &CoreMain::onClickProxySettings);
    connect(ui->lblUserConn, &QLabel::linkActivated, this, &CoreMain::onClickBuyQuota);
    connect(tray, &TrayPresence::activated, this, &CoreMain::clickIcon);
    connect(tray, &TrayPresence::showRequested, this, &CoreMain::showApp);
    connect(tray, &TrayPresence::logoutRequested, this, &CoreMain::onClickLogout);
    connect(tray, &TrayPresence::infoNeeded, this, &CoreMain::refreshTrayInfo);
    tray->addQuitControl(ui->btmEsci);
    wireConserve();
    wireList();
    wireRetrieve();

    // The client starts without a usable catalogue too, and says why.
    const QString catalogueProblem = Database::unusableMessage();
    if (!catalogueProblem.isEmpty())
        Prompts::critical(nullptr, tr("Catalogo locale"), catalogueProblem);

    // 13.
    ui->tbwFile->resize(1024, ui->tbwFile->height());
    ui->tbwMetadati->resize(1024, ui->tbwMetadati->height());
    ui->twCategorie->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    classModel = new ClassListModel(this);
    classModel->attachTo(ui->twCategorie);

    // The usage chart is drawn on the window's own background.
    ui->wwCharts->setRenderHint(QPainter::Antialiasing);
    ui->wwCharts->setBackgroundBrush(Qt::NoBrush);
    ui->wwCharts->viewport()->setAutoFillBackground(false);

    // 14. Nobody is signed in yet: this shows the login dialog.
    setVisible(false);
    setVisible(true);

    // 15.
    ui->tbwFile->setStyleSheet(QStringLiteral("selection-background-color: palette(highlight);"));

    // No tray: said once the login dialog is up, in a box that leaves it usable.
    tray->warnIfMissing();
}

CoreMain::~CoreMain()
{
    delete ui;
    ui = nullptr;
    delete dialogLogin;
    delete proxyDialog;
    delete winChangePwd;
    delete conn;
    delete jar;
}

void CoreMain::setVisible(bool visible)
{
    if (!visible) {
        // Without a tray a hidden window could not be found again: closing,
        // Escape and every hide leave it on the task bar instead.
        if (signedIn && isVisible() && tray->keepsWindowsOnTaskBar())
            setWindowState(windowState() | Qt::WindowMinimized);
        else
            QDialog::setVisible(false);
        return;
    }
    if (!signedIn) {
        showForeground(dialogLogin);
        return;
    }
    if (!isVisible()) {
        QDialog::setVisible(true);
        return;
    }
    // Shown again while already on screen (a second start of the client, the
    // tray): it comes back from the task bar and to the front.
    setWindowState(windowState() & ~Qt::WindowMinimized);
    activateWindow();
    raise();
}

void CoreMain::done(int result)
{
    // Escape and the frame's close end the dialog here, and a dialog that ends
    // closes its platform window: without a tray it goes to the task bar first.
    if (signedIn && isVisible() && tray->keepsWindowsOnTaskBar()) {
        setVisible(false);
        return;
    }
    QDialog::done(result);
}

void CoreMain::showForeground(QWidget *widget)
{
    if (!widget)
        return;
    widget->setVisible(true);
    widget->setWindowState(widget->windowState() & ~Qt::WindowMinimized);
    widget->activateWindow();
    widget->raise();
}

void CoreMain::showApp()
{
    if (isVisible())
        showForeground(this);
    else
        setVisible(true);
}

void CoreMain::clickIcon(QSystemTrayIcon::ActivationReason reason)
{
    if (reason == QSystemTrayIcon::DoubleClick) {
        if (isHidden())
            showForeground(this);
        else
            hide();
        return;
    }
    refreshTrayInfo();
}

void CoreMain::refreshTrayInfo()
{
    const QString user = conn->savedUsername();
    tray->setInfoLines(user.isEmpty() ? tr("Non sei connesso") : user,
                       QStringLiteral("(") + nameBucket + QStringLiteral(")"));
}

void CoreMain::setMenuSystray(bool on)
{
    tray->setSignedIn(on);
}

QMenu *CoreMain::trayMenu()
{
    return tray->menu();
}

void CoreMain::onLoginOK(QString username, QString password, bool save)
{
    signedIn = true;
    conn->setCredentials(username, password);
    jar->setCredentials(username, password);
    startCommandServer();

    setMenuSystray(true);
    setUserLine(tr("Sei connesso come: ") + username.toHtmlEscaped());

    if (save) {
        settings.saveSetting(QStringLiteral("username"), username);
        settings.saveSetting(QStringLiteral("password"), password);
        settings.saveSetting(QStringLiteral("saveLogin"), QStringLiteral("1"));
    } else {
        // The empty text, not a missing value.
        settings.saveSetting(QStringLiteral("username"), QStringLiteral(""));
        settings.saveSetting(QStringLiteral("password"), QStringLiteral(""));
        settings.saveSetting(QStringLiteral("saveLogin"), QStringLiteral("0"));
    }
    settings.saveSetting(QStringLiteral("lastusername"), username);

    disconnect(ui->cbBuckets, &QComboBox::currentIndexChanged, this, &CoreMain::onChangeBucket);
    loadComboBuckets();
    connect(ui->cbBuckets, &QComboBox::currentIndexChanged, this, &CoreMain::onChangeBucket);
    onSyncCategorieOK();
    showListFile();
    setVisible(true);
}

void CoreMain::onLoginKO(QString username)
{
    setMenuSystray(false);
    settings.saveSetting(QStringLiteral("lastusername"), username);
}

void CoreMain::onClickLogout()
{
    signedIn = false;
    stopCommandServer();
    setMenuSystray(false);
    conn->logout();
    jar->clearCredentials();
    clearAccountView();
    hide();
    dialogLogin->show();
}

void CoreMain::clearAccountView()
{
    // Nothing of this account is left for the next one to see: its files,
    // search, profiles, usage figures and classes.
    discardFileList();
    {
        const QSignalBlocker quiet(ui->cbBuckets);
        ui->cbBuckets->clear();
    }
    idBucket.clear();
    shownBucketId.clear();
    shownBucketName.clear();
    nameBucket = tr("Nessun Profilo");
    bucketQuota.clear();
    bucketUsed.clear();
    bucketUnit.clear();
    bucketDiv.clear();
    refreshCharts();
    refreshListClassi();
    refreshTrayInfo();
}

void CoreMain::syncCategorie()
{
    ui->lblLoading->setMovie(&loadingMovie);
    loadingMovie.start();
    // A retry() runs this again: never stack a second set of subscriptions.
    disconnectSync();
    connectSync();
    // The connection also serves restores; the catalogue comes back as XML.
    conn->setDownloadMode(false);
    conn->syncCategorieFromServer();
}

void CoreMain::connectSync()
{
    connect(conn, &KVWConn::commandSuccessful, this, &CoreMain::onSyncCategorieOK);
    connect(conn, &KVWConn::retry, this, &CoreMain::syncCategorie);
    connect(conn, &KVWConn::commandFailure, this, &CoreMain::onSyncCategorieKO);
}

void CoreMain::disconnectSync()
{
    disconnect(conn, &KVWConn::commandSuccessful, this, &CoreMain::onSyncCategorieOK);
    disconnect(conn, &KVWConn::retry, this, &CoreMain::syncCategorie);
    disconnect(conn, &KVWConn::commandFailure, this, &CoreMain::onSyncCategorieKO);
}

void CoreMain::onSyncCategorieOK()
{
    disconnectSync();
    loadingMovie.stop();
    ui->lblLoading->hide();
    shownBucketId = idBucket;
    shownBucketName = nameBucket;
    refreshListFile();
    refreshListClassi();
    refreshCharts();
    refreshTrayInfo();
}

void CoreMain::onSyncCategorieKO(QString description, QString)
{
    // The synchronisation is over: a later failure of another exchange on this
    // connection (an exhibition, say) must not be taken for this one.
    disconnectSync();
    loadingMovie.stop();
    // A profile change that could not be synchronised is undone: the selector
    // names again the profile whose files, figures and chart are shown.
    if (idBucket != shownBucketId)
        showBucket(shownBucketId, shownBucketName);
    Prompts::critical(this, tr("Errore"), description);
    hide();
}

void CoreMain::showBucket(const QString &id, const QString &name)
{
    idBucket = id;
    nameBucket = name;
    {
        const QSignalBlocker quiet(ui->cbBuckets);
        ui->cbBuckets->setCurrentIndex(ui->cbBuckets->findData(id));
    }
    refreshTrayInfo();
}

void CoreMain::onContextualMenu(QPoint pos)
{
    QMenu menu(tr("Context menu"), this);
    menu.addAction(actStoria);
    menu.addAction(actEsibisci);
    menu.addAction(actScarica);
    menu.addAction(actRettifica);
    menu.exec(ui->tbwFile->viewport()->mapToGlobal(pos));
}

void CoreMain::showListFile()
{
    ui->wListFiles->show();
    ui->leSearch->show();
    ui->pbIconSearch_2->show();
    setFileColumnWidths();
    ui->wSettings->hide();
}

void CoreMain::showSettings()
{
    ui->tabWidget->setCurrentIndex(0);
    ui->wListFiles->hide();
    ui->wSettings->show();
}

void CoreMain::setFileColumnWidths()
{
    // Five equal columns that leave room for a vertical scrollbar, whatever
    // its width in the desktop's style: the list never needs a horizontal
    // one, and a list that grows or shrinks past the table's height (a
    // search) does not move the columns.
    QTableView *table = ui->tbwFile;
    const int room = table->width() - 2 * table->frameWidth()
        - table->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, table->verticalScrollBar());
    const int width = qMin(table->width() / 5 - 5, room / 5);
    for (int column = 1; column <= 5; ++column)
        ui->tbwFile->setColumnWidth(column, width);
}

void CoreMain::resizeEvent(QResizeEvent *event)
{
    setFileColumnWidths();
    QDialog::resizeEvent(event);
}

void CoreMain::dragEnterEvent(QDragEnterEvent *event)
{
    event->accept();
}

bool CoreMain::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == ui->lblChangePwd && event->type() == QEvent::MouseButtonPress) {
        onClickChangePassword();
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

void CoreMain::openPage(const char *path)
{
    QDesktopServices::openUrl(QUrl(settings.getSetting(QStringLiteral("url")) + QLatin1String(path)));
}

void CoreMain::onClickHelp()
{
    openPage(URL_HELP);
}

void CoreMain::onClickBuyQuota(QString link)
{
    if (link != QLatin1String("#buyquota"))
        return;
    if (bucketQuota.isEmpty() || bucketQuota == QLatin1String("0"))
        return;
    openPage(URL_BUY_QUOTA);
}

void CoreMain::onClickProxySettings()
{
    delete proxyDialog;
    proxyDialog = new ProxyDialog();
    proxyDialog->setAttribute(Qt::WA_DeleteOnClose);
    connect(proxyDialog, &QDialog::finished, this, &CoreMain::onCloseProxyDialog);
    proxyDialog->setModal(true);
    proxyDialog->show();
}

void CoreMain::onCloseProxyDialog(int)
{
    if (proxyDialog)
        disconnect(proxyDialog, &QDialog::finished, this, &CoreMain::onCloseProxyDialog);
    conn->loadProxyConfig();
}

void CoreMain::loadComboBuckets()
{
    ui->cbBuckets->clear();
    database.openDB();
    {
        QSqlQuery query(database.db);
        query.exec(QStringLiteral("SELECT idbuckets, description, quota, used, unit, div FROM buckets"));
        while (query.next())
            ui->cbBuckets->addItem(query.value(1).toString(), query.value(0).toString());
    }
    database.closeDB();
    if (ui->cbBuckets->count() > 0) {
        idBucket = ui->cbBuckets->itemData(0).toString();
        nameBucket = ui->cbBuckets->itemText(0);
    } else {
        idBucket.clear();
        nameBucket.clear();
    }
    refreshCharts();
}

void CoreMain::onChangeBucket(int index)
{
    idBucket = ui->cbBuckets->itemData(index).toString();
    nameBucket = ui->cbBuckets->itemText(index);
    syncCategorie();
}

void CoreMain::setUserLine(const QString &text)
{
    // One line where the bar has room for it, wrapped where it has not: the
    // label may grow up to the width of its text on one line, no further, so
    // "(Cambia password)" follows it.
    QLabel *line = ui->lblUserConn;
    line->setText(text);
    QTextDocument oneLine;
    oneLine.setDocumentMargin(0);
    oneLine.setDefaultFont(line->font());
    oneLine.setHtml(text);
    line->setMaximumWidth(qCeil(oneLine.idealWidth()) + line->contentsMargins().left()
                          + line->contentsMargins().right() + 2 * line->margin() + 1);
}

void CoreMain::refreshCharts()
{
    database.openDB();
    {
        QSqlQuery query(database.db);
        query.prepare(QStringLiteral("SELECT quota, used, unit, div FROM buckets WHERE idbuckets = ?"));
        query.addBindValue(idBucket);
        if (query.exec() && query.next()) {
            bucketQuota = query.value(0).toString();
            bucketUsed = query.value(1).toString();
            bucketUnit = query.value(2).toString();
            bucketDiv = query.value(3).toString();
        }
    }
    database.closeDB();

    const UsageFigures figures = UsageFigures::compute(bucketQuota, bucketUsed, bucketUnit,
                                                       bucketDiv, conn->savedUsername());
    setUserLine(figures.userLine);
    ui->lblUserConn->setStyleSheet(figures.lineStyle);

    const int statsTab = ui->tabWidget->indexOf(ui->tabStatistiche);
    if (statsTab >= 0)
        ui->tabWidget->removeTab(statsTab);
    if (figures.hasQuota)
        ui->tabWidget->addTab(ui->tabStatistiche, tr("Statistiche utilizzo"));
    QChart *chart = figures.makeChart();
    QChart *previous = ui->wwCharts->chart();
    ui->wwCharts->setChart(chart);
    delete previous;
}

void CoreMain::refreshListClassi()
{
    classModel->setProfile(idBucket);
    classModel->reload();
}

void CoreMain::onFilterListCateg(QString text)
{
    classModel->setNameFilter(text);
}

void CoreMain::onClickShowMetadataCurrent()
{
    onClickShowMetadata(ui->twCategorie->currentIndex());
}

void CoreMain::onClickShowMetadata(QModelIndex index)
{
    if (!index.isValid())
        return;
    onClickShowMetadata(classModel->classIdAt(index.row()), classModel->classNameAt(index.row()));
}

void CoreMain::onClickShowMetadata(int idFolder, QString name)
{
    auto *window = new MetadatiCategories(jar, this, idFolder, name);
    window->setModal(true);
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->show();
}

void CoreMain::onClickChangePassword()
{
    if (!winChangePwd) {
        winChangePwd = new ChangePwdDialog(jar, nullptr);
        winChangePwd->setModal(true);
        winChangePwd->setAttribute(Qt::WA_DeleteOnClose);
        connect(winChangePwd, &QObject::destroyed, this, &CoreMain::resetWinChangePwd);
    }
    showForeground(winChangePwd);
}

void CoreMain::resetWinChangePwd()
{
    winChangePwd = nullptr;
}

ChangePwdDialog *CoreMain::changePasswordDialog() const
{
    return winChangePwd;
}

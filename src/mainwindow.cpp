#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "media/mediapane.h"
#include "pagescanner.h"

#include <QCursor>
#include <QDebug>
#include <QMessageBox>
#include <QModelIndex>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QUrl>

namespace {

// Log lines carry no file, line or function, whatever the build type, and
// go to the default category.
QDebug debugLog()
{
    return QMessageLogger(nullptr, 0, nullptr, "default").debug();
}

QDebug warningLog()
{
    return QMessageLogger(nullptr, 0, nullptr, "default").warning();
}

bool isRow(const QModelIndex &index, int count)
{
    return index.row() >= 0 && index.row() < count;
}

} // namespace

ArticleSources ArticleSources::builtIn()
{
    return {QStringLiteral("https://mp.weixin.qq.com/s/"),
            QStringLiteral("https://res.wx.qq.com/voice/getvoice?mediaid="),
            {QStringLiteral("Xq3vN8kLm2Pw7RtY5bZc-A"), QStringLiteral("Hd9sK4fJw6Ty1Uo3Ie5Rq-"),
             QStringLiteral("b7Gm2Np8Qx4Lz6Vc1Ks9Dw")}};
}

MainWindow::MainWindow(QWidget *parent)
    : MainWindow(ArticleSources::builtIn(), FetchLimits(), parent)
{
}

MainWindow::MainWindow(const ArticleSources &sources, const FetchLimits &limits, QWidget *parent)
    : QMainWindow(parent)
    , articleBase(sources.articleBase)
    , voiceBase(sources.voiceBase)
    , ui(new Ui::MainWindow)
    , fetchLimits(limits)
{
    articleIds.reserve(int(sources.articleIds.size()));
    for (const QString &id : sources.articleIds)
        articleIds.append(id);

    ui->setupUi(this);
    ui->menu_R->menuAction()->setVisible(false);
    ui->splitter->setStretchFactor(0, 2);
    ui->splitter->setStretchFactor(1, 3);
    ui->splitter->setStretchFactor(2, 5);
    ui->splitter_2->setStretchFactor(0, 7);
    ui->splitter_2->setStretchFactor(1, 3);

    networkManager = new QNetworkAccessManager(this);
    connect(networkManager, &QNetworkAccessManager::finished, this, &MainWindow::funreply);
}

MainWindow::~MainWindow()
{
    delete ui;
}

void MainWindow::get(const QString &address)
{
    PageFetch::get(networkManager, address, fetchLimits);
    if (fetchesInFlight++ == 0)
        setCursor(Qt::BusyCursor);
    ui->axWidget->showNotice(tr("正在打开…"), QString(), MediaPane::Notice::Lasting);
}

void MainWindow::showOpenFailure(const FetchFailure &failure, const QString &address)
{
    ui->axWidget->showNotice(tr("无法打开文章：%1").arg(failure.reason), failure.detail + QLatin1Char('\n') + address,
                             MediaPane::Notice::UntilClipEvent);
}

void MainWindow::funreply(QNetworkReply *reply)
{
    reply->deleteLater();
    if (--fetchesInFlight == 0)
        unsetCursor();

    // A failed fetch is not a page: keep what the user was looking at.
    PageFetch *fetch = PageFetch::of(reply);
    const FetchFailure failure = fetch->finish();
    if (failure.failed()) {
        warningLog() << "fetch failed:" << reply->url().toString() << failure.detail;
        showOpenFailure(failure, reply->url().toString());
        return;
    }
    if (fetchesInFlight == 0)
        ui->axWidget->clearNotice(MediaPane::Notice::Lasting);

    pageText = PageScanner::pageText(fetch->takeBody());
    if (pageText.isEmpty())
        return;

    const PageScanner::Result page = PageScanner::scan(pageText, PageScanner::articleHost(articleBase));
    if (page.kind == PageScanner::PageKind::Voice) {
        debugLog() << "true";
        ui->listWidget_3->clear();
        voiceIds.clear();
        int counter = 0;
        for (const PageScanner::VoiceEntry &entry : page.voices) {
            debugLog() << counter << "(" << entry.name << "),(" << entry.fileId << ")";
            if (counter == 0)
                ui->axWidget->setProperty("URL", QVariant(voiceBase + entry.fileId));
            ui->listWidget_3->insertItem(ui->listWidget_3->count(), entry.name);
            voiceIds.append(entry.fileId);
            ++counter;
        }
    } else {
        debugLog() << "false";
        ui->listWidget_2->clear();
        linkUrls.clear();
        for (const PageScanner::LinkEntry &entry : page.links) {
            linkUrls.append(entry.address);
            ui->listWidget_2->insertItem(ui->listWidget_2->count(), entry.title);
        }
    }
}

void MainWindow::on_action_A_triggered()
{
    QMessageBox::information(this, windowTitle(),
                             QString::fromUtf8("温故而知新，可以为师矣\n\t-by Quorvath"),
                             QMessageBox::Ok, QMessageBox::NoButton);
}

void MainWindow::on_listWidget_2_doubleClicked(const QModelIndex &index)
{
    if (linkUrls.isEmpty() || !isRow(index, linkUrls.size()))
        return;
    const QString &entry = linkUrls.at(index.row());
    debugLog() << "open url:" << entry;

    // Only web addresses are followed, and always over https; a page must
    // not make us open local files or run other schemes.
    static const QLatin1String http("http://");
    static const QLatin1String https("https://");
    if (entry.startsWith(http)) {
        get(https + entry.mid(http.size()));
    } else if (entry.startsWith(https)) {
        get(entry);
    } else {
        warningLog() << "not a web address, not opened:" << entry;
        showOpenFailure({tr("不是网页地址"), QStringLiteral("not a web address")}, entry);
    }
}

void MainWindow::on_listWidget_clicked(const QModelIndex &index)
{
    if (!isRow(index, articleIds.size()))
        return;
    get(articleBase + articleIds.at(index.row()));
}

void MainWindow::on_action_D_triggered()
{
    debugLog() << pageText;
}

void MainWindow::on_listWidget_2_customContextMenuRequested(const QPoint &pos)
{
    Q_UNUSED(pos) // the menu opens at the mouse cursor, also for keyboard requests
    ui->menu_R->popup(QCursor::pos());
}

void MainWindow::on_listWidget_3_doubleClicked(const QModelIndex &index)
{
    if (voiceIds.isEmpty() || !isRow(index, voiceIds.size()))
        return;
    ui->axWidget->setProperty("URL", QVariant(voiceBase + voiceIds.at(index.row())));
}

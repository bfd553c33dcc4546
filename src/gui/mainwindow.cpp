#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "applicationservice.h"
#include "bringtofront.h"
#include "log.h"
#include "mediapane.h"
#include "mprisservice.h"
#include "pageclassifier.h"
#include "pagescanner.h"
#include "playersession.h"
#include "timetext.h"

#include <QClipboard>
#include <QCursor>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QGuiApplication>
#include <QListWidgetItem>
#include <QMessageBox>
#include <QMimeData>
#include <QModelIndex>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPixmap>
#include <QRegularExpression>
#include <QShortcut>
#include <QStyle>
#include <QUrl>

namespace {

bool isRow(const QModelIndex &index, int count)
{
    return index.row() >= 0 && index.row() < count;
}

constexpr int kMostAddresses = 20;          // taken from one launch, paste, drop or call
constexpr int kLongestAddress = 8 * 1024;   // bytes
constexpr int kLongestHandedText = 64 * 1024; // bytes of pasted or dropped text

const QLatin1String kHttp("http://");
const QLatin1String kHttps("https://");

bool isWebAddress(const QString &text)
{
    return text.startsWith(kHttp) || text.startsWith(kHttps);
}

// The web addresses in pasted or dropped data, in order: its links if it
// has any, otherwise those written in its text, which may be a chat message
// around them. Too much of either is taken for something else.
QStringList addressesIn(const QMimeData *data)
{
    QStringList addresses;
    if (!data)
        return addresses;
    if (data->hasUrls()) {
        if (data->data(QStringLiteral("text/uri-list")).size() > kLongestHandedText)
            return addresses;
        for (const QUrl &url : data->urls()) {
            if (isWebAddress(url.toString()))
                addresses.append(url.toString());
        }
        return addresses;
    }
    const QString text = data->text();
    if (text.toUtf8().size() > kLongestHandedText)
        return addresses;
    // Up to a space, a quote or bracket, or a character that is not ASCII
    // (Chinese punctuation follows addresses in messages); a closing
    // punctuation mark is taken for the sentence's.
    static const QRegularExpression written(QStringLiteral("https?://[!#-;=?-~]+"));
    for (auto it = written.globalMatch(text); it.hasNext();) {
        QString address = it.next().captured(0);
        while (address.size() > kHttps.size() && QStringLiteral(".,;:!?)]}'").contains(address.back()))
            address.chop(1);
        addresses.append(address);
    }
    return addresses;
}

} // namespace

ArticleSources ArticleSources::builtIn()
{
    return {QStringLiteral("https://mp.weixin.qq.com/s/"),
            QStringLiteral("https://res.wx.qq.com/voice/getvoice?mediaid="),
            {QStringLiteral("Xq3vN8kLm2Pw7RtY5bZc-A"), QStringLiteral("Hd9sK4fJw6Ty1Uo3Ie5Rq-"),
             QStringLiteral("b7Gm2Np8Qx4Lz6Vc1Ks9Dw")}};
}

MainWindow::MainWindow(PlayerSession *session, QWidget *parent)
    : MainWindow(session, ArticleSources::builtIn(), FetchLimits(), parent)
{
}

MainWindow::MainWindow(PlayerSession *session, const ArticleSources &sources, const FetchLimits &limits,
                       QWidget *parent)
    : QMainWindow(parent)
    , session(session)
    , articleBase(sources.articleBase)
    , voiceBase(sources.voiceBase)
    , ui(new Ui::MainWindow)
    , fetchLimits(limits)
{
    articleIds.reserve(int(sources.articleIds.size()));
    for (const QString &id : sources.articleIds)
        articleIds.append(id);

    ui->setupUi(this);
    ui->axWidget->setSession(session);
    ui->menu_R->menuAction()->setVisible(false);
    ui->splitter->setStretchFactor(0, 2);
    ui->splitter->setStretchFactor(1, 3);
    ui->splitter->setStretchFactor(2, 5);
    ui->splitter_2->setStretchFactor(0, 7);
    ui->splitter_2->setStretchFactor(1, 3);
    // What a screen reader calls each list.
    ui->listWidget->setAccessibleName(tr("文章"));
    ui->listWidget_2->setAccessibleName(tr("相关文章"));
    ui->listWidget_3->setAccessibleName(tr("音频"));
    // The playing clip's mark, no taller than a line of text.
    const int markSize = style()->pixelMetric(QStyle::PM_SmallIconSize, nullptr, ui->listWidget_3);
    ui->listWidget_3->setIconSize(QSize(markSize, markSize));

    networkManager = new QNetworkAccessManager(this);
    connect(networkManager, &QNetworkAccessManager::finished, this, &MainWindow::funreply);

    setAcceptDrops(true);
    auto *paste = new QShortcut(QKeySequence::Paste, this);
    connect(paste, &QShortcut::activated, this,
            [this] { openHanded(QGuiApplication::clipboard()->mimeData(), tr("剪贴板中没有网页地址")); });
    connect(session, &PlayerSession::openRequested, this, &MainWindow::openAddresses);
    connect(session, &PlayerSession::clipChanged, this, &MainWindow::markPlayingClip);
    connect(session, &PlayerSession::placesChanged, this, &MainWindow::markPlayingClip);
}

MainWindow::~MainWindow()
{
    delete ui;
}

void MainWindow::answer(const ApplicationService *service)
{
    connect(service, &ApplicationService::activateRequested, this, &MainWindow::raiseWindow);
    connect(service, &ApplicationService::openRequested, this, &MainWindow::openAddresses);
}

void MainWindow::answer(const MprisService *service)
{
    connect(service, &MprisService::raiseRequested, this, &MainWindow::raiseWindow);
}

void MainWindow::get(const QString &address)
{
    PageFetch::get(networkManager, address, fetchLimits);
    if (fetchesInFlight++ == 0)
        setCursor(Qt::BusyCursor);
    session->showNotice(tr("正在打开…"), QString(), PlayerSession::Notice::Lasting);
}

// Only web addresses are followed, and always over https; a page must not
// make us open local files or run other schemes.
void MainWindow::openAddress(const QString &address)
{
    if (address.startsWith(kHttp)) {
        get(kHttps + address.mid(kHttp.size()));
    } else if (address.startsWith(kHttps)) {
        get(address);
    } else {
        warningLog() << "not a web address, not opened:" << address;
        showOpenFailure({tr("不是网页地址"), QStringLiteral("not a web address")}, address);
    }
}

void MainWindow::openAddresses(const QStringList &addresses)
{
    if (addresses.size() > kMostAddresses)
        warningLog() << "too many addresses at once: opened the first" << kMostAddresses << "and refused"
                     << addresses.size() - kMostAddresses;
    for (const QString &address : addresses.mid(0, kMostAddresses)) {
        if (address.size() > kLongestAddress || address.toUtf8().size() > kLongestAddress) {
            const QString shown = address.left(200) + QChar(0x2026);
            warningLog() << "address longer than 8 KiB, not opened:" << shown;
            showOpenFailure({tr("地址过长"), QStringLiteral("address longer than 8 KiB")}, shown);
            continue;
        }
        openAddress(address);
    }
}

void MainWindow::openHanded(const QMimeData *data, const QString &noAddress)
{
    const QStringList addresses = addressesIn(data);
    if (addresses.isEmpty())
        session->showNotice(noAddress, QString(), PlayerSession::Notice::UntilClipEvent);
    else
        openAddresses(addresses);
}

void MainWindow::raiseWindow()
{
    bringToFront(this);
}

void MainWindow::dragEnterEvent(QDragEnterEvent *event)
{
    if (event->mimeData()->hasUrls() || event->mimeData()->hasText())
        event->acceptProposedAction();
}

void MainWindow::dropEvent(QDropEvent *event)
{
    event->acceptProposedAction();
    openHanded(event->mimeData(), tr("没有可打开的网页地址"));
}

// The clip list marks the clip in the player, whichever way it got there.
// The other rows get a blank mark, so that no row changes its height or
// moves its text when the mark moves. A row says where the listener left
// its clip, if they did.
void MainWindow::markPlayingClip()
{
    const QString playing = session->url();
    const QIcon mark = style()->standardIcon(QStyle::SP_MediaPlay);
    QPixmap blank(ui->listWidget_3->iconSize());
    blank.fill(Qt::transparent);
    const QIcon noMark(blank);
    for (int row = 0; row < ui->listWidget_3->count() && row < voiceIds.size(); ++row) {
        QListWidgetItem *item = ui->listWidget_3->item(row);
        const QString address = voiceBase + voiceIds.at(row);
        item->setIcon(address == playing ? mark : noMark);
        const qint64 place = session->placeOf(address);
        const QString heard = place >= 0 ? tr("已听到 %1").arg(TimeText::shown(place)) : QString();
        if (item->toolTip() != heard) {
            item->setToolTip(heard);
            item->setData(Qt::AccessibleDescriptionRole, heard);
        }
    }
}

void MainWindow::showOpenFailure(const FetchFailure &failure, const QString &address)
{
    const QString toolTip = failure.detail.isEmpty() ? address : failure.detail + QLatin1Char('\n') + address;
    session->showNotice(tr("无法打开文章：%1").arg(failure.reason), toolTip, PlayerSession::Notice::UntilClipEvent);
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
        session->clearNotice(PlayerSession::Notice::Lasting);

    const QString text = PageScanner::pageText(fetch->takeBody());
    using Page = PageClassifier::Page;
    const Page page = PageClassifier::classify(text, PageScanner::articleHost(articleBase), reply->url());
    // A page that says there is no article is no page either.
    if (page.kind == Page::Kind::NoArticle) {
        const QString opened = reply->request().url().toString();
        warningLog() << "page holds no article:" << opened << page.notice;
        showOpenFailure({page.notice, QString()}, opened);
        return;
    }
    pageText = text;
    for (const QString &warning : page.warnings)
        warningLog().noquote() << warning;
    if (page.kind == Page::Kind::Empty)
        return;

    if (page.kind == Page::Kind::Voice) {
        debugLog() << "true";
        // What the player goes through and shows of the clips: their
        // order, their names, and the article.
        QVector<PlayerSession::Clip> clips;
        for (const PageScanner::VoiceEntry &entry : page.voices)
            clips.append({voiceBase + entry.fileId, entry.name});
        if (!clips.isEmpty())
            session->setClipList(clips, page.title);
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
        markPlayingClip();
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
    openAddress(entry);
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

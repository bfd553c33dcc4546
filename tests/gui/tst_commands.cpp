#include "commandline.h"
#include "logcapture.h"
#include "samplepages.h"
#include "windowfixture.h"

#include <QAbstractButton>
#include <QAction>
#include <QClipboard>
#include <QFile>
#include <QMimeData>
#include <QMenu>
#include <QMessageBox>
#include <QStandardItemModel>
#include <QTimer>
#include <QtTest>

using SamplePages::Clip;

// The user's commands through the real window: mouse and keyboard on the
// lists, the menus, real sockets behind them.
class TestCommands : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void clickArticleThenPlayAnotherClip();
    void clipRowSaysWhereItWasLeft();
    void followLinkOverHttps();
    void linkSchemes_data();
    void linkSchemes();
    void keyboardChangesNothing();
    void aboutBox();
    void debugDumpBeforeAnyPage();
    void debugDumpQuotesThePage();
    void rightClickPopsUpMenu_data();
    void rightClickPopsUpMenu();
    void inertActionsDoNothing();
    void rowsOutsideTheListsAreIgnored();
    void commandLine_data();
    void commandLine();
    void pasteAndDrop_data();
    void pasteAndDrop();

private:
    QString clipPath(const QString &id) const { return QStringLiteral("/voice/getvoice?mediaid=") + id; }
    void loadLinkPage(const QStringList &hrefs);

    std::unique_ptr<WindowFixture> f;
    std::unique_ptr<LogCapture> log;
    const QVector<Clip> clips{{"第一章", "MzAwMF8x"}, {"第二章", "MzAwMF8y"}, {"第三章", "MzAwMF8z"}};
};

void TestCommands::init()
{
    f = std::make_unique<WindowFixture>();
    log = std::make_unique<LogCapture>();
}

void TestCommands::cleanup()
{
    log.reset();
    f.reset();
}

void TestCommands::loadLinkPage(const QStringList &hrefs)
{
    QVector<SamplePages::Link> links;
    for (const QString &href : hrefs)
        links.append({href, QStringLiteral("文章%1").arg(links.size())});
    // The anchor must carry the page server's article address to be found.
    QString body = QStringLiteral("<html><body>");
    for (const SamplePages::Link &l : links)
        body += QStringLiteral("<a href=\"%1\" data-src=\"%2\"><span style=\"a;\">%3</span></a>\n")
                    .arg(l.href, f->articleLink(QStringLiteral("x")), l.title);
    f->pages.setPage(QStringLiteral("/s/second"), (body + QStringLiteral("</body></html>")).toUtf8());
    QVERIFY(f->fetchArticle(1));
    QCOMPARE(f->links()->count(), hrefs.size());
    log->clear();
}

void TestCommands::clickArticleThenPlayAnotherClip()
{
    f->pages.setPage(QStringLiteral("/s/first"), SamplePages::voicePage("卷一", clips, {250000}));
    WindowFixture::click(f->articles(), 0);
    QTRY_COMPARE_WITH_TIMEOUT(f->pages.requests(), QStringList{"/s/first"}, 10000);
    QTRY_COMPARE_WITH_TIMEOUT(f->voices()->count(), 3, 10000);
    QTRY_VERIFY_WITH_TIMEOUT(f->clips.requestCount(clipPath("MzAwMF8x")) > 0, 10000);
    QTRY_COMPARE_WITH_TIMEOUT(f->session.playback()->state(), Playback::State::Playing, 10000);
    // The playing clip is marked with the play icon and named in the
    // status line; the article is its album.
    const QImage play = f->window->style()->standardIcon(QStyle::SP_MediaPlay).pixmap(16).toImage();
    // Every row as tall as the marked one, its text in the same place.
    const auto marked = [&] {
        QString rows;
        QSet<int> heights;
        QSet<int> textIndents; // the mark's room
        for (int row = 0; row < f->voices()->count(); ++row) {
            const QListWidgetItem *item = f->voices()->item(row);
            rows += item->icon().pixmap(16).toImage() == play ? QLatin1Char('>') : QLatin1Char('-');
            heights.insert(f->voices()->visualItemRect(item).height());
            textIndents.insert(item->icon().actualSize(f->voices()->iconSize()).width());
        }
        return heights.size() == 1 && textIndents.size() == 1 ? rows : rows + QStringLiteral(" moving");
    };
    QCOMPARE(marked(), QStringLiteral(">--"));
    QTRY_COMPARE_WITH_TIMEOUT(f->pane()->statusText(), QStringLiteral("第一章"), 10000);
    QCOMPARE(f->session.album(), QStringLiteral("卷一"));

    WindowFixture::doubleClick(f->voices(), 1);
    QTRY_VERIFY_WITH_TIMEOUT(f->clips.requestCount(clipPath("MzAwMF8y")) > 0, 10000);
    QCOMPARE(f->pane()->url(), f->clipAddress(QStringLiteral("MzAwMF8y")));
    QCOMPARE(f->session.playback()->source(), QUrl(f->clipAddress(QStringLiteral("MzAwMF8y"))));
    QTRY_COMPARE_WITH_TIMEOUT(f->session.playback()->state(), Playback::State::Playing, 10000);
    QCOMPARE(marked(), QStringLiteral("->-"));
    QCOMPARE(WindowFixture::rows(f->voices()), (QStringList{"第一章", "第二章", "第三章"}));
    QTRY_COMPARE_WITH_TIMEOUT(f->pane()->statusText(), QStringLiteral("第二章"), 10000);
    QCOMPARE(f->pages.requests().size(), 1); // playing a clip fetches no page
}

// A clip left part-way: its row says where, as a tooltip and to a screen
// reader; played again, it goes on from 5 s before.
void TestCommands::clipRowSaysWhereItWasLeft()
{
    QFile tone(qEnvironmentVariable("TEST_DATA_DIR") + QStringLiteral("/tone-a.mp3"));
    QVERIFY(tone.open(QIODevice::ReadOnly));
    f->clips.setResponse(clipPath("MzAwMF8x"), TestServer::ok(tone.readAll().repeated(30), "audio/mpeg"));
    f->pages.setPage(QStringLiteral("/s/first"), SamplePages::voicePage("卷一", clips));
    QVERIFY(f->fetchArticle(0));
    QTRY_VERIFY_WITH_TIMEOUT(f->session.canSeek(), 10000);
    f->session.seekTo(61000);
    QTRY_VERIFY_WITH_TIMEOUT(f->session.position() > 61000, 10000);
    const QListWidgetItem *first = f->voices()->item(0);
    QCOMPARE(first->toolTip(), QString());
    WindowFixture::doubleClick(f->voices(), 1);
    QTRY_VERIFY_WITH_TIMEOUT(first->toolTip().startsWith(QStringLiteral("已听到 1:0")), 10000);
    QCOMPARE(first->data(Qt::AccessibleDescriptionRole).toString(), first->toolTip());
    QCOMPARE(f->voices()->item(1)->toolTip(), QString());
    WindowFixture::doubleClick(f->voices(), 0);
    QTRY_VERIFY_WITH_TIMEOUT(f->session.canSeek() && f->session.position() > 55000, 10000);
    QVERIFY2(f->session.position() < 59000, qPrintable(QString::number(f->session.position())));
    // Stop means "from the start": the row says nothing more.
    f->session.stop();
    QCOMPARE(first->toolTip(), QString());
}

void TestCommands::followLinkOverHttps()
{
    const QString stored = f->articleLink(QStringLiteral("next?a=1&b=http"));
    f->pages.setPage(QStringLiteral("/s/second"),
                     SamplePages::linkPage("目录", {{f->articleLink("next?a=1&amp;b=http#wechat_redirect"), "下一篇"}},
                                           {0, false}));
    QVERIFY(f->fetchArticle(1));
    QCOMPARE(WindowFixture::rows(f->links()), QStringList{"下一篇"});
    QCOMPARE(f->window->currentLinkUrls(), QStringList{stored});

    f->pages.setPage(QStringLiteral("/s/next?a=1&b=http"), SamplePages::voicePage("下一篇", clips));
    log->clear();
    QVERIFY(f->openLink(0));
    // The page server speaks only https, so the request arriving is the proof.
    QCOMPARE(f->pages.requests().last(), QStringLiteral("/s/next?a=1&b=http"));
    QCOMPARE(log->debugLines().first(), "open url: \"" + stored + "\"");
    QCOMPARE(f->voices()->count(), 3);
    QCOMPARE(f->window->currentLinkUrls(), QStringList{stored}); // stored entry unchanged

    // The same row twice fetches the same address twice.
    QVERIFY(f->openLink(0));
    QCOMPARE(f->pages.requestCount(QStringLiteral("/s/next?a=1&b=http")), 2);
}

void TestCommands::linkSchemes_data()
{
    QTest::addColumn<QString>("href");
    QTest::addColumn<QString>("requestedPath"); // empty: nothing may be fetched
    QTest::newRow("https kept as it is") << "https://%1/s/kept" << "/s/kept";
    QTest::newRow("http inside the path untouched") << "http://%1/s/http-guide?u=http" << "/s/http-guide?u=http";
    QTest::newRow("javascript") << "javascript:open('http://%1/s/x')" << "";
    QTest::newRow("local file") << "file:///etc/passwd?http" << "";
    QTest::newRow("ftp") << "ftp://%1/http" << "";
    QTest::newRow("relative") << "/s/x?from=http" << "";
    QTest::newRow("capital HTTP") << "HTTP://%1/s/x?ref=http" << "";
}

void TestCommands::linkSchemes()
{
    QFETCH(QString, href);
    QFETCH(QString, requestedPath);
    const QString stored = href.contains(QLatin1String("%1")) ? href.arg(f->pages.authority()) : href;
    loadLinkPage({stored});
    QCOMPARE(f->window->currentLinkUrls(), QStringList{stored});
    // A clip has just started, and goes on loading and playing meanwhile.
    f->pages.setPage(QStringLiteral("/s/first"), SamplePages::voicePage("卷一", clips));
    QVERIFY(f->fetchArticle(0));
    log->clear();
    const int before = f->pages.requests().size();

    WindowFixture::doubleClick(f->links(), 0);
    QCOMPARE(log->debugLines(), QStringList{"open url: \"" + stored + "\""});
    if (requestedPath.isEmpty()) {
        QCOMPARE(log->warningLines().size(), 1);
        QVERIFY(log->warningLines().first().contains(stored));
        QCOMPARE(f->pane()->statusText(), QStringLiteral("无法打开文章：不是网页地址"));
        // The clip going on is no news: the failure stays to be read.
        QTest::qWait(600);
        QCOMPARE(f->pane()->statusText(), QStringLiteral("无法打开文章：不是网页地址"));
        QCOMPARE(f->pages.requests().size(), before);
    } else {
        QTRY_COMPARE(f->pages.requests().size(), before + 1);
        QCOMPARE(f->pages.requests().last(), requestedPath);
    }
}

void TestCommands::keyboardChangesNothing()
{
    f->pages.setPage(QStringLiteral("/s/first"), SamplePages::voicePage("卷一", clips));
    loadLinkPage({f->articleLink(QStringLiteral("a")), f->articleLink(QStringLiteral("b"))});
    QVERIFY(f->fetchArticle(0));
    const int requests = f->pages.requests().size();
    const QString url = f->pane()->url();

    f->articles()->setFocus();
    QTest::keyClick(f->articles(), Qt::Key_Down);
    QTest::keyClick(f->articles(), Qt::Key_Down);
    QTest::keyClick(f->articles(), Qt::Key_Return);
    for (QListWidget *list : {f->links(), f->voices()}) {
        list->setFocus();
        list->setCurrentRow(1);
        QTest::keyClick(list, Qt::Key_Return);
        QTest::keyClick(list, Qt::Key_Enter);
    }
    QTest::qWait(300);
    QCOMPARE(f->pages.requests().size(), requests);
    QCOMPARE(f->pane()->url(), url);
}

void TestCommands::aboutBox()
{
    QString caption;
    QString text;
    QMessageBox::StandardButtons buttons;
    QTimer::singleShot(0, this, [&] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        QVERIFY(box);
        caption = box->windowTitle();
        text = box->text();
        buttons = box->standardButtons();
        QCOMPARE(box->parentWidget(), f->window.get());
        box->button(QMessageBox::Ok)->click();
    });
    f->window->findChild<QAction *>(QStringLiteral("action_A"))->trigger();
    QCOMPARE(caption, QStringLiteral("Sorvalen Brimwold"));
    QCOMPARE(text, QStringLiteral("温故而知新，可以为师矣\n\t-by Quorvath"));
    QCOMPARE(text.size(), 25);
    QCOMPARE(buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    QVERIFY(!QApplication::activeModalWidget());
}

void TestCommands::debugDumpBeforeAnyPage()
{
    f->window->findChild<QAction *>(QStringLiteral("action_D"))->trigger();
    QCOMPARE(log->debugLines(), QStringList{"\"\""});
    QVERIFY(log->entries().first().emptyContext);
}

void TestCommands::debugDumpQuotesThePage()
{
    f->pages.setPage(QStringLiteral("/s/third"), "<p class=\"x\">行一\n\t行二</p>");
    QVERIFY(f->fetchArticle(2));
    log->clear();
    f->window->findChild<QAction *>(QStringLiteral("action_D"))->trigger();
    QCOMPARE(log->debugLines(), QStringList{"\"<p class=\\\"x\\\">行一\\n\\t行二</p>\""});
}

void TestCommands::rightClickPopsUpMenu_data()
{
    QTest::addColumn<bool>("withRows");
    QTest::newRow("empty list") << false;
    QTest::newRow("list with links") << true;
}

void TestCommands::rightClickPopsUpMenu()
{
    QFETCH(bool, withRows);
    if (withRows)
        loadLinkPage({f->articleLink(QStringLiteral("a"))});
    auto *menu = f->window->findChild<QMenu *>(QStringLiteral("menu_R"));
    QVERIFY(!menu->isVisible());

    const QPoint click = f->links()->viewport()->mapToGlobal(QPoint(20, 20));
    QCursor::setPos(click);
    QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(20, 20), click);
    QApplication::sendEvent(f->links()->viewport(), &event);
    QTRY_VERIFY(menu->isVisible());
    QCOMPARE(menu->actions().size(), 7);
    QCOMPARE(menu->pos(), click);
    menu->close();

    // From the keyboard it still opens at the mouse cursor, not at the list.
    const QPoint elsewhere = f->articles()->mapToGlobal(QPoint(5, 40));
    QCursor::setPos(elsewhere);
    QContextMenuEvent keyEvent(QContextMenuEvent::Keyboard, QPoint(0, 0), f->links()->mapToGlobal(QPoint(0, 0)));
    QApplication::sendEvent(f->links(), &keyEvent);
    QTRY_VERIFY(menu->isVisible());
    QCOMPARE(menu->pos(), elsewhere);
    menu->close();
    QCOMPARE(f->pages.requests().size(), withRows ? 1 : 0);
}

void TestCommands::inertActionsDoNothing()
{
    loadLinkPage({f->articleLink(QStringLiteral("a"))});
    const QString page = f->window->currentPageText();
    const int requests = f->pages.requests().size();
    for (const char *name : {"action_H", "action_H_2", "action_S", "action_P", "action_S_2", "action_R",
                             "action_A_2", "action_E"}) {
        f->window->findChild<QAction *>(QString::fromLatin1(name))->trigger();
        QVERIFY2(!QApplication::activeModalWidget(), name);
    }
    QTest::qWait(100);
    QVERIFY(log->entries().isEmpty());
    QCOMPARE(f->pages.requests().size(), requests);
    QCOMPARE(f->window->currentPageText(), page);
    QCOMPARE(f->links()->count(), 1);
}

void TestCommands::rowsOutsideTheListsAreIgnored()
{
    f->pages.setPage(QStringLiteral("/s/first"), SamplePages::voicePage("卷一", clips));
    loadLinkPage({f->articleLink(QStringLiteral("a"))});
    QVERIFY(f->fetchArticle(0));
    const int requests = f->pages.requests().size();
    const QString url = f->pane()->url();
    log->clear();

    QStandardItemModel big(50, 1);
    for (const QModelIndex &index : {big.index(3, 0), big.index(49, 0), QModelIndex()}) {
        for (QListWidget *list : {f->articles(), f->links(), f->voices()}) {
            emit list->clicked(index);
            emit list->doubleClicked(index);
        }
    }
    QTest::qWait(200);
    QCOMPARE(f->pages.requests().size(), requests);
    QCOMPARE(f->pane()->url(), url);
    QVERIFY2(log->entries().isEmpty(), qPrintable(log->lines(QtDebugMsg).join("\n") + log->lines(QtWarningMsg).join("\n")));
}

void TestCommands::commandLine_data()
{
    QTest::addColumn<QStringList>("arguments"); // %1: the page server
    QTest::addColumn<int>("exitCode");          // -1: the window opens the addresses
    QTest::addColumn<QString>("output");        // part of what is printed when it ends at once, or of the warning
    QTest::addColumn<QStringList>("fetched");
    QTest::addColumn<QString>("status");
    QTest::addColumn<int>("warnings");
    const QString busy = QStringLiteral("正在打开…");
    QStringList many;
    QStringList twenty;
    for (int i = 0; i < 21; ++i) {
        many.append(QStringLiteral("https://%1/s/n") + QString::number(i));
        if (i < 20)
            twenty.append(QStringLiteral("/s/n") + QString::number(i));
    }
    QTest::newRow("an address") << QStringList{"https://%1/s/a"} << -1 << "" << QStringList{"/s/a"} << busy << 0;
    QTest::newRow("http is fetched over https") << QStringList{"http://%1/s/a?b=http"} << -1 << "" << QStringList{"/s/a?b=http"}
                                               << busy << 0;
    QTest::newRow("several, in order") << QStringList{"https://%1/s/c", "http://%1/s/a", "https://%1/s/b"} << -1 << ""
                                       << QStringList{"/s/c", "/s/a", "/s/b"} << busy << 0;
    QTest::newRow("not a web address") << QStringList{"file:///etc/passwd"} << -1 << "not a web address" << QStringList()
                                       << "无法打开文章：不是网页地址" << 1;
    QTest::newRow("capital HTTP is not followed") << QStringList{"HTTP://%1/s/a"} << -1 << "" << QStringList()
                                                  << "无法打开文章：不是网页地址" << 1;
    QTest::newRow("a good one after a bad one") << QStringList{"mp.weixin.qq.com/s/a", "https://%1/s/b"} << -1 << ""
                                                << QStringList{"/s/b"} << busy << 1;
    // {8192}: as many x as make the whole address that long.
    QTest::newRow("address of 8 KiB") << QStringList{"https://%1/s/{8192}"} << -1 << "" << QStringList{"/s/{8192}"} << busy
                                      << 0;
    QTest::newRow("address over 8 KiB") << QStringList{"https://%1/s/{8193}"} << -1 << "longer than 8 KiB" << QStringList()
                                        << "无法打开文章：地址过长" << 1;
    QTest::newRow("address over 8 KiB in UTF-8") << QStringList{"https://%1/s/" + QString(3000, QChar(0x4e2d))} << -1 << ""
                                                 << QStringList() << "无法打开文章：地址过长" << 1;
    QTest::newRow("20 addresses: all taken") << QStringList(many.mid(0, 20)) << -1 << "" << twenty << busy << 0;
    QTest::newRow("21 addresses: the last is refused") << many << -1 << "opened the first 20 and refused 1" << twenty << busy << 1;
    QTest::newRow("unknown option") << QStringList{"--frobnicate", "https://%1/s/a"} << 2 << "frobnicate" << QStringList()
                                    << "" << 0;
    QTest::newRow("help") << QStringList{"--help"} << 0 << "ADDRESS" << QStringList() << "" << 0;
}

void TestCommands::commandLine()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QString, output);
    QFETCH(QStringList, fetched);
    QFETCH(QString, status);
    QFETCH(int, warnings);
    QStringList line{QStringLiteral("sorvalen-brimwold")};
    QString filled;
    for (QString argument : arguments) {
        argument.replace(QLatin1String("%1"), f->pages.authority());
        const QRegularExpressionMatch fill = QRegularExpression(QStringLiteral("\\{(\\d+)\\}")).match(argument);
        if (fill.hasMatch()) {
            filled = fill.captured(0);
            argument.replace(filled, QString(fill.captured(1).toInt() - argument.size() + filled.size(), QLatin1Char('x')));
            filled = argument.mid(argument.indexOf(QLatin1String("/s/")) + 3);
        }
        line.append(argument);
    }
    for (QString &path : fetched)
        path.replace(QRegularExpression(QStringLiteral("\\{\\d+\\}")), filled);

    const CommandLine parsed = CommandLine::parse(line);
    QCOMPARE(parsed.exitCode, exitCode);
    QVERIFY2(exitCode < 0 || parsed.output.contains(output), qPrintable(parsed.output));
    if (exitCode > 0)
        QCOMPARE(parsed.output.count(QLatin1Char('\n')), 1);
    if (exitCode < 0)
        f->window->openAddresses(parsed.addresses);
    QCOMPARE(f->fetchesUnderWay(), fetched);
    QCOMPARE(f->pane()->statusText(), status);
    QCOMPARE(log->warningLines().size(), warnings);
    if (warnings > 0)
        QVERIFY2(log->warningLines().first().contains(output), qPrintable(log->warningLines().first()));
    QVERIFY(log->debugLines().isEmpty());
}

void TestCommands::pasteAndDrop_data()
{
    QTest::addColumn<QString>("how");
    QTest::addColumn<QString>("content"); // %1: the page server; links one a line
    QTest::addColumn<QStringList>("fetched");
    QTest::addColumn<QString>("status");
    const QString busy = QStringLiteral("正在打开…");
    const QString noneOnClipboard = QStringLiteral("剪贴板中没有网页地址");
    const QString noneDropped = QStringLiteral("没有可打开的网页地址");
    QTest::newRow("Ctrl+V of an address in a message") << "paste" << "快看这篇：https://%1/s/a?x=1，很好。"
                                                       << QStringList{"/s/a?x=1"} << busy;
    QTest::newRow("Ctrl+V of an http address ending a sentence") << "paste" << "See http://%1/s/b." << QStringList{"/s/b"}
                                                                 << busy;
    QTest::newRow("Ctrl+V of a link") << "paste links" << "https://%1/s/c" << QStringList{"/s/c"} << busy;
    QTest::newRow("Ctrl+V without an address") << "paste" << "mp.weixin.qq.com 上的文章" << QStringList() << noneOnClipboard;
    // {N}: filled up to N bytes in all.
    QTest::newRow("Ctrl+V of 64 KiB") << "paste" << "https://%1/s/a {65536}" << QStringList{"/s/a"} << busy;
    QTest::newRow("Ctrl+V of more than 64 KiB") << "paste" << "https://%1/s/a {65537}" << QStringList() << noneOnClipboard;
    QTest::newRow("drop of links") << "drop links" << "https://%1/s/a\nfile:///etc/passwd\nhttp://%1/s/b"
                                   << QStringList{"/s/a", "/s/b"} << busy;
    QTest::newRow("drop of text with addresses") << "drop" << "<https://%1/s/b>\n\"http://%1/s/a\""
                                                 << QStringList{"/s/b", "/s/a"} << busy;
    QTest::newRow("drop without an address") << "drop" << "javascript:alert(1)" << QStringList() << noneDropped;
    QTest::newRow("drop of local files only") << "drop links" << "file:///tmp/a.mp3" << QStringList() << noneDropped;
    QTest::newRow("drop of more than 64 KiB") << "drop" << "https://%1/s/a {65537}" << QStringList() << noneDropped;
    QTest::newRow("drop of links over 64 KiB") << "drop links" << "https://%1/s/a\nhttps://%1/s/b?{70000}" << QStringList()
                                               << noneDropped;
    QTest::newRow("a picture is not taken") << "drag picture" << "" << QStringList() << "";
    QTest::newRow("the desktop asks to open an article") << "desktop" << "http://%1/s/d" << QStringList{"/s/d"} << busy;
}

void TestCommands::pasteAndDrop()
{
    QFETCH(QString, how);
    QFETCH(QString, content);
    QFETCH(QStringList, fetched);
    QFETCH(QString, status);
    content.replace(QLatin1String("%1"), f->pages.authority());
    const QRegularExpressionMatch fill = QRegularExpression(QStringLiteral("\\{(\\d+)\\}")).match(content);
    if (fill.hasMatch())
        content.replace(fill.captured(0), QString(fill.captured(1).toInt() - content.toUtf8().size() + fill.captured(0).size(),
                                                  QLatin1Char('z')));
    auto *data = new QMimeData;
    if (how == QLatin1String("drag picture")) {
        data->setData(QStringLiteral("image/png"), QByteArray("\x89PNG", 4));
    } else if (how.endsWith(QLatin1String("links"))) {
        QList<QUrl> urls;
        for (const QString &link : content.split(QLatin1Char('\n')))
            urls.append(QUrl(link));
        data->setUrls(urls);
    } else {
        data->setText(content);
    }

    if (how == QLatin1String("desktop")) {
        f->session.askToOpen(content);
        delete data;
    } else if (how.startsWith(QLatin1String("paste"))) {
        QGuiApplication::clipboard()->setMimeData(data);
        f->window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(f->window.get()));
        f->voices()->setFocus();
        QTest::keyClick(f->voices(), Qt::Key_V, Qt::ControlModifier);
    } else {
        // Dropped on the clip list, which takes no drops itself.
        const QPoint at = f->voices()->mapTo(f->window.get(), QPoint(20, 20));
        QWindow *window = f->window->windowHandle();
        QDragEnterEvent enter(at, Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(window, &enter);
        QCOMPARE(enter.isAccepted(), how != QLatin1String("drag picture"));
        if (enter.isAccepted()) {
            QDropEvent drop(at, Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(window, &drop);
        }
        delete data;
    }
    QCOMPARE(f->fetchesUnderWay(), fetched);
    QCOMPARE(f->pane()->statusText(), status);
    QVERIFY2(log->warningLines().isEmpty(), qPrintable(log->warningLines().join("\n")));
}

QTEST_MAIN(TestCommands)
#include "tst_commands.moc"

#include "logcapture.h"
#include "samplepages.h"
#include "windowfixture.h"

#include <QAbstractButton>
#include <QAction>
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
    QTRY_COMPARE_WITH_TIMEOUT(f->pane()->playback()->state(), Playback::State::Playing, 10000);

    WindowFixture::doubleClick(f->voices(), 1);
    QTRY_VERIFY_WITH_TIMEOUT(f->clips.requestCount(clipPath("MzAwMF8y")) > 0, 10000);
    QCOMPARE(f->pane()->url(), f->clipAddress(QStringLiteral("MzAwMF8y")));
    QCOMPARE(f->pane()->playback()->source(), QUrl(f->clipAddress(QStringLiteral("MzAwMF8y"))));
    QTRY_COMPARE_WITH_TIMEOUT(f->pane()->playback()->state(), Playback::State::Playing, 10000);
    QCOMPARE(f->pages.requests().size(), 1); // playing a clip fetches no page
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
    const int before = f->pages.requests().size();

    WindowFixture::doubleClick(f->links(), 0);
    QCOMPARE(log->debugLines(), QStringList{"open url: \"" + stored + "\""});
    if (requestedPath.isEmpty()) {
        QCOMPARE(log->warningLines().size(), 1);
        QVERIFY(log->warningLines().first().contains(stored));
        QCOMPARE(f->pane()->statusText(), QStringLiteral("无法打开文章：不是网页地址"));
        QTest::qWait(200);
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

QTEST_MAIN(TestCommands)
#include "tst_commands.moc"

#ifndef WINDOWFIXTURE_H
#define WINDOWFIXTURE_H

#include "mainwindow.h"
#include "mediapane.h"
#include "playersession.h"
#include "samplepages.h"
#include "testserver.h"

#include <QFile>
#include <QListWidget>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QtTest>

#include <memory>

// A shown main window whose articles come from a loopback HTTPS server and
// whose clips come from a loopback HTTP server.
class WindowFixture
{
public:
    // Article rows 0..2 fetch /s/first, /s/second and /s/third.
    explicit WindowFixture(const FetchLimits &limits = FetchLimits())
    {
        const std::array<QString, 3> ids{QStringLiteral("first"), QStringLiteral("second"), QStringLiteral("third")};
        qRegisterMetaType<QNetworkReply *>();
        TestServer::trustLoopbackCertificate();
        QVERIFY(pages.start());
        QVERIFY(clips.startInThread());
        QFile clip(qEnvironmentVariable("TEST_DATA_DIR") + QStringLiteral("/tone-a.mp3"));
        QVERIFY(clip.open(QIODevice::ReadOnly));
        clips.setFallback(TestServer::ok(clip.readAll(), "audio/mpeg"));
        window = std::make_unique<MainWindow>(
            &session,
            ArticleSources{pages.baseUrl() + QStringLiteral("/s/"),
                           clips.baseUrl() + QStringLiteral("/voice/getvoice?mediaid="), ids},
            limits);
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    }

    QListWidget *articles() const { return list("listWidget"); }
    QListWidget *links() const { return list("listWidget_2"); }
    QListWidget *voices() const { return list("listWidget_3"); }
    MediaPane *pane() const { return window->findChild<MediaPane *>(QStringLiteral("axWidget")); }
    QNetworkAccessManager *manager() const { return window->findChild<QNetworkAccessManager *>(); }

    // The address a page should use to link to /s/<rest> on the page server.
    QString articleLink(const QString &rest) const
    {
        return QStringLiteral("http://") + pages.authority() + QStringLiteral("/s/") + rest;
    }
    QString clipAddress(const QString &fileId) const
    {
        return clips.baseUrl() + QStringLiteral("/voice/getvoice?mediaid=") + fileId;
    }

    // The fetches under way, in the order they were issued: path and query.
    QStringList fetchesUnderWay() const
    {
        QStringList paths;
        for (const QNetworkReply *reply : manager()->findChildren<QNetworkReply *>(QString(), Qt::FindDirectChildrenOnly))
            paths.append(reply->url().toString(QUrl::RemoveScheme | QUrl::RemoveAuthority));
        return paths;
    }

    static QStringList rows(const QListWidget *list)
    {
        QStringList texts;
        for (int i = 0; i < list->count(); ++i)
            texts.append(list->item(i)->text());
        return texts;
    }

    static void click(QListWidget *list, int row)
    {
        list->scrollToItem(list->item(row));
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(list->item(row)).center());
    }

    static void doubleClick(QListWidget *list, int row)
    {
        list->scrollToItem(list->item(row));
        const QPoint at = list->visualItemRect(list->item(row)).center();
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, at);
        QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, at);
    }

    // Clicks an article row and waits until its reply has been handled.
    bool fetchArticle(int row, int timeoutMs = 10000)
    {
        QSignalSpy finished(manager(), &QNetworkAccessManager::finished);
        click(articles(), row);
        return finished.wait(timeoutMs) || finished.count() > 0;
    }

    bool openLink(int row, int timeoutMs = 10000)
    {
        QSignalSpy finished(manager(), &QNetworkAccessManager::finished);
        doubleClick(links(), row);
        return finished.wait(timeoutMs) || finished.count() > 0;
    }

    // Row 1 gets a link page with links "甲" and "乙", row 0 a voice page
    // with these clips; both are fetched, so both lists are filled.
    void showLinksAndClips(const QVector<SamplePages::Clip> &clips, int pageSize = 0)
    {
        pages.setPage(QStringLiteral("/s/second"),
                      SamplePages::linkPage("目录", {{articleLink("a1"), "甲"}, {articleLink("a2"), "乙"}},
                                            {pageSize, false}));
        pages.setPage(QStringLiteral("/s/first"), SamplePages::voicePage("卷一", clips, {pageSize}));
        QVERIFY(fetchArticle(1));
        QVERIFY(fetchArticle(0));
        QCOMPARE(links()->count(), 2);
        QCOMPARE(voices()->count(), clips.size());
    }

    TestServer pages{TestServer::Scheme::Https};
    TestServer clips{TestServer::Scheme::Http};
    PlayerSession session; // outlives the window, as in the program
    std::unique_ptr<MainWindow> window;

private:
    QListWidget *list(const char *name) const { return window->findChild<QListWidget *>(QString::fromLatin1(name)); }
};

#endif // WINDOWFIXTURE_H

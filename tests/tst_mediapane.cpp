#include "media/mediapane.h"

#include "testserver.h"

#include <QFile>
#include <QAbstractButton>
#include <QAbstractSlider>
#include <QComboBox>
#include <QLabel>
#include <QSignalSpy>
#include <QtTest>

class TestMediaPane : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void urlPropertyPlaysAtOnce();
    void secondAddressReplacesFirst();
    void unreachableAddressShowsErrorInPane_data();
    void unreachableAddressShowsErrorInPane();
    void controlsDrivePlayback();
    void fitsTheLowerPane();

private:
    static QByteArray clip(const char *name);
    TestServer m_server{TestServer::Scheme::Http};
};

QByteArray TestMediaPane::clip(const char *name)
{
    QFile file(qEnvironmentVariable("TEST_DATA_DIR") + QLatin1Char('/') + QLatin1String(name));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void TestMediaPane::initTestCase()
{
    QVERIFY(m_server.start());
    const QByteArray a = clip("tone-a.mp3");
    const QByteArray b = clip("tone-b.mp3");
    QVERIFY(!a.isEmpty() && !b.isEmpty());
    m_server.setResponse(QStringLiteral("/voice/a"), TestServer::ok(a, "audio/mpeg"));
    m_server.setResponse(QStringLiteral("/voice/b"), TestServer::ok(b, "audio/mpeg"));
}

void TestMediaPane::urlPropertyPlaysAtOnce()
{
    MediaPane pane;
    pane.show();
    const QString address = m_server.baseUrl() + QStringLiteral("/voice/a");
    QVERIFY(pane.setProperty("URL", QVariant(address)));
    QCOMPARE(pane.property("URL").toString(), address);
    QTRY_COMPARE_WITH_TIMEOUT(pane.player()->state(), QMediaPlayer::PlayingState, 10000);
    QTRY_VERIFY_WITH_TIMEOUT(pane.player()->position() > 300, 10000);
    QCOMPARE(m_server.requestCount(QStringLiteral("/voice/a")) > 0, true);
    QVERIFY2(pane.statusText().isEmpty(), qPrintable(pane.statusText()));
}

void TestMediaPane::secondAddressReplacesFirst()
{
    MediaPane pane;
    pane.setProperty("URL", QVariant(m_server.baseUrl() + QStringLiteral("/voice/a")));
    QTRY_VERIFY_WITH_TIMEOUT(pane.player()->position() > 300, 10000);

    const int before = m_server.requestCount(QStringLiteral("/voice/b"));
    const QString second = m_server.baseUrl() + QStringLiteral("/voice/b");
    QVERIFY(pane.setProperty("URL", QVariant(second)));
    QCOMPARE(pane.player()->currentMedia().request().url(), QUrl(second));
    QTRY_VERIFY_WITH_TIMEOUT(m_server.requestCount(QStringLiteral("/voice/b")) > before, 10000);
    QTRY_COMPARE_WITH_TIMEOUT(pane.player()->state(), QMediaPlayer::PlayingState, 10000);
    QTRY_VERIFY_WITH_TIMEOUT(pane.player()->position() > 100, 10000);
}

void TestMediaPane::unreachableAddressShowsErrorInPane_data()
{
    QTest::addColumn<QString>("path");
    QTest::newRow("missing clip (404)") << QStringLiteral("/voice/missing");
    QTest::newRow("not audio") << QStringLiteral("/voice/page");
}

void TestMediaPane::unreachableAddressShowsErrorInPane()
{
    QFETCH(QString, path);
    m_server.setPage(QStringLiteral("/voice/page"), "<html><body>no sound here</body></html>");
    MediaPane pane;
    pane.show();
    pane.setProperty("URL", QVariant(m_server.baseUrl() + path));
    QTRY_VERIFY_WITH_TIMEOUT(!pane.statusText().isEmpty() && pane.statusText() != QStringLiteral("加载中…")
                                 && pane.statusText() != QStringLiteral("缓冲中…"),
                             10000);
    QVERIFY(pane.statusText().startsWith(QStringLiteral("无法播放")));
    QVERIFY(pane.player()->state() != QMediaPlayer::PlayingState);

    // The pane still plays the next good address.
    pane.setProperty("URL", QVariant(m_server.baseUrl() + QStringLiteral("/voice/a")));
    QVERIFY(pane.statusText().isEmpty() || !pane.statusText().startsWith(QStringLiteral("无法播放")));
    QTRY_COMPARE_WITH_TIMEOUT(pane.player()->state(), QMediaPlayer::PlayingState, 10000);
}

void TestMediaPane::controlsDrivePlayback()
{
    MediaPane pane;
    pane.show();
    pane.setProperty("URL", QVariant(m_server.baseUrl() + QStringLiteral("/voice/a")));
    QTRY_COMPARE_WITH_TIMEOUT(pane.player()->state(), QMediaPlayer::PlayingState, 10000);

    auto *play = pane.findChild<QAbstractButton *>(QStringLiteral("playButton"));
    auto *stop = pane.findChild<QAbstractButton *>(QStringLiteral("stopButton"));
    auto *mute = pane.findChild<QAbstractButton *>(QStringLiteral("muteButton"));
    auto *volume = pane.findChild<QAbstractSlider *>(QStringLiteral("volumeSlider"));
    auto *speed = pane.findChild<QComboBox *>(QStringLiteral("speedBox"));
    QVERIFY(play && stop && mute && volume && speed);

    play->click();
    QTRY_COMPARE(pane.player()->state(), QMediaPlayer::PausedState);
    play->click();
    QTRY_COMPARE(pane.player()->state(), QMediaPlayer::PlayingState);

    mute->click();
    QVERIFY(pane.player()->isMuted());
    volume->setValue(40);
    QCOMPARE(pane.player()->volume(), 40);

    QCOMPARE(speed->count(), 4);
    speed->setCurrentIndex(2);
    QCOMPARE(pane.player()->playbackRate(), 1.5);

    stop->click();
    QTRY_COMPARE(pane.player()->state(), QMediaPlayer::StoppedState);
}

void TestMediaPane::fitsTheLowerPane()
{
    MediaPane pane;
    QVERIFY(pane.minimumSizeHint().height() <= 80);
    QVERIFY(pane.sizeHint().height() <= 80);
}

QTEST_MAIN(TestMediaPane)
#include "tst_mediapane.moc"

#ifndef MAINWINDOW_H
#define MAINWINDOW_H

#include "pagefetch.h"

#include <QMainWindow>
#include <QStringList>

#include <array>

class ApplicationService;
class MprisService;
class PlayerSession;
class QMimeData;
class QModelIndex;
class QNetworkAccessManager;
class QNetworkReply;
class QPoint;

namespace Ui {
class MainWindow;
}

// Where the window fetches articles from and where their clips are played
// from. The shipped program always uses builtIn(); tests and the offline
// demo point a window at servers on the loopback address.
struct ArticleSources
{
    QString articleBase;               // an article identifier is appended
    QString voiceBase;                 // a voice file identifier is appended
    std::array<QString, 3> articleIds; // rows 0..2 of the article list

    static ArticleSources builtIn();
};

class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    // The window shows `session` in its player pane; the session outlives it.
    explicit MainWindow(PlayerSession *session, QWidget *parent = nullptr);
    MainWindow(PlayerSession *session, const ArticleSources &sources, const FetchLimits &limits = FetchLimits(),
               QWidget *parent = nullptr);
    ~MainWindow() override;

    // The window answers what the desktop asks of the program: to come to
    // the front, and to open articles.
    void answer(const ApplicationService *service);
    void answer(const MprisService *service);

    // Read-only views of the page state, for diagnostics and tests.
    const QString &currentPageText() const { return pageText; }
    const QStringList &currentLinkUrls() const { return linkUrls; }
    const QStringList &currentVoiceIds() const { return voiceIds; }

    // Opens articles the user handed over (on the command line, by paste or
    // drop, from the desktop), in order, each as a followed link is. Takes
    // at most 20 and refuses an address over 8 KiB.
    void openAddresses(const QStringList &addresses);
    // Brings the window to the front.
    void raiseWindow();

protected:
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dropEvent(QDropEvent *event) override;

private slots:
    void funreply(QNetworkReply *reply);
    void on_action_A_triggered();
    void on_listWidget_2_doubleClicked(const QModelIndex &index);
    void on_listWidget_clicked(const QModelIndex &index);
    void on_action_D_triggered();
    void on_listWidget_2_customContextMenuRequested(const QPoint &pos);
    void on_listWidget_3_doubleClicked(const QModelIndex &index);

private:
    void get(const QString &address);
    void openAddress(const QString &address);
    void openHanded(const QMimeData *data, const QString &noAddress);
    void showOpenFailure(const FetchFailure &failure, const QString &address);
    void markPlayingClip();

    PlayerSession *session;
    QString articleBase;
    QString voiceBase;
    QStringList articleIds;
    QString pageText;
    Ui::MainWindow *ui;
    QNetworkAccessManager *networkManager;
    QStringList linkUrls;
    QStringList voiceIds;
    FetchLimits fetchLimits;
    int fetchesInFlight = 0;
};

#endif // MAINWINDOW_H

#include "application/Application.h"

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <iostream>
#include <mutex>

#include <unistd.h>

#include "app/MainLoop.h"
#include "app/Scene.h"
#include "app/ScreenAwake.h"
#include "app/Stage.h"
#include "app/Toolkit.h"
#include "catalogue/ChannelFolder.h"
#include "catalogue/PlayerDatabase.h"
#include "commandline/CommandLine.h"
#include "guide/Guide.h"
#include "playback/MediaGraph.h"
#include "playback/Playback.h"
#include "playback/StreamAddress.h"
#include "scenes/Scenes.h"
#include "kestrel/Exception.h"
#include "kestrel/File.h"
#include "kestrel/Log.h"
#include "kestrel/System.h"
#include "kestrel/Unicode.h"
#include "state/Language.h"
#include "state/LocaleLanguage.h"
#include "state/Recent.h"
#include "state/Settings.h"

std::u16string dataFolderPath;

namespace {

// The sources the command line asks to store; written by lumivexMain
// before run() starts the initialisation thread, which applies them.
cCommandLine pendingCommandLine;


std::mutex testHookLock;
std::function<void(const std::string&)> stepTrace; // guarded by testHookLock
std::function<void()> initializationProbe;         // guarded by testHookLock

void trace(const std::string& step)
{
    std::function<void(const std::string&)> current;
    {
        std::lock_guard<std::mutex> guard(testHookLock);
        current = stepTrace;
    }
    if (current) {
        current(step);
    }
}

std::string narrow(const std::u16string& text)
{
    try {
        return kestrel::toUtf8(text);
    } catch (const kestrel::cException&) {
        return "?";
    }
}

// Appends one folder level to the data folder path, creating the folder
// when it is missing. A failed creation is not reported here: the steps
// that use the folder fail in their own way.
void appendDataFolder(std::u16string& path, const std::u16string& name)
{
    path += name;
    if (!kestrel::directoryExists(path)) {
        trace("create folder " + narrow(path));
        kestrel::createDirectory(path);
    }
    path += kestrel::pathSeparator();
}

// Sources handed over by later starts on the same data folder. Until the
// initialisation thread has loaded the settings they wait here (a load
// would lay the file over them); from then on they are stored at once.
std::mutex forwardedLock;
bool settingsReady = false;                    // guarded by forwardedLock
std::vector<cCommandLine> forwardedCommandLines; // guarded by forwardedLock

// Stores a command line's sources and saves the settings when they changed.
void storeSources(const cCommandLine& commandLine)
{
    cSettings* settings = cSettings::instance();
    if (applyCommandLine(commandLine, *settings)) {
        settings->save(dataFolderPath + u"settings.xml");
        trace("store command line");
    }
}

// A later start's message, on the lock's listening thread: its arguments,
// as toArguments() wrote them. The sources are stored for the next start
// and the window comes to the front; a language it names is spoken at
// once. (Before the settings are loaded, the initialisation thread loads
// the language they then hold.)
void receiveLaterStart(const std::vector<std::string>& arguments)
{
    const cCommandLine commandLine = parseCommandLine(arguments, "/");
    bool newLanguage = false;
    {
        std::lock_guard<std::mutex> guard(forwardedLock);
        if (commandLine.action == cCommandLine::Run) {
            if (settingsReady) {
                storeSources(commandLine);
                newLanguage = !commandLine.language.empty();
            } else {
                forwardedCommandLines.push_back(commandLine);
            }
        }
    }
    trace("later start");
    if (newLanguage) {
        postToMainLoop(PrioritySceneSwitch, [] {
            const std::u16string path =
                languageFilePath(kestrel::cSystem::getApplicationPath(), cSettings::instance()->getLanguage());
            changeLanguage(path);
            trace("apply language " + narrow(path));
        });
    }
    postToMainLoop(PrioritySceneSwitch, [] { presentStage(); });
}

} // namespace

bool isApplicationTerminating()
{
    return kestrel::applicationIsTerminating();
}

// --- cLumivexApplication ---------------------------------------------------

cLumivexApplication::~cLumivexApplication()
{
    // run() joins the thread; this covers a run that left by an exception
    // after the thread had started.
    if (mInitializationThread.joinable()) {
        setTerminating(true);
        mInitializationThread.join();
    }
}

int cLumivexApplication::run(int32_t, int32_t)
{
    // The data folder: "Lumivex2" inside "Lumivex" inside the user's local
    // data folder.
    std::u16string folder = kestrel::cSystem::getSafeUserDataPath();
    appendDataFolder(folder, u"Lumivex");
    appendDataFolder(folder, u"Lumivex2");
    dataFolderPath = folder;
    cSettings::instance()->setDataFolder(dataFolderPath);

    // One player per data folder: a later start hands its sources to the
    // first, which comes to the front, and ends without touching a file.
    if (!mInstanceLock.acquire(narrow(folder))) {
        const bool answered = kestrel::cInstanceLock::send(narrow(folder), toArguments(pendingCommandLine), 5000);
        trace(answered ? "handed over to the running player" : "running player did not answer");
        if (!answered) {
            kestrel::logWarning("app", "a player already runs on " + narrow(folder) +
                                           " but did not answer; this start ends");
        }
        return 0;
    }
    mInstanceLock.listen(receiveLaterStart);

    // GLib's and the toolkit's thread support are always on in the versions
    // the program is built with; nothing to initialise before the toolkit.
    if (!initializeUi()) {
        throw kestrel::cException(u"Can't initialize UI subsystem.");
    }
    trace("ui");
    quitMainLoopOnTerminationSignals();

    // The play-channel procedure, the player destroyer and the scenes join
    // the scene switching before any scene can be requested.
    installPlayback();
    installScenes();
    // Before any graph exists: no source that reads files or devices.
    restrictMediaSources();
    warmUpMedia();

    mInitializationThread = std::thread([this] { initializationThread(); });

    clutter_threads_enter();
    clutter_main();
    clutter_threads_leave();
    endProcessOnTerminationSignals();
    trace("main loop ended");

    shutdown();
    return 1;
}

void cLumivexApplication::initializationThread()
{
    try {
        cSettings* settings = cSettings::instance();
        // A missing or unreadable file leaves the initial contents.
        settings->load(dataFolderPath + u"settings.xml");
        trace("load settings");
        // A first start shows the desktop's language; every settings file the
        // program wrote names a language, and that one holds.
        if (!settings->loadedFromFile(u"language")) {
            const std::vector<std::u16string> languages = availableLanguages(kestrel::cSystem::getApplicationPath());
            settings->setString(u"language", languageForLocale(std::getenv, languages));
        }
        // Sources given on the command line (and by later starts that came
        // meanwhile) are stored at once, so that they hold for the next
        // start even if this one ends abruptly.
        {
            std::lock_guard<std::mutex> guard(forwardedLock);
            storeSources(pendingCommandLine);
            for (const cCommandLine& forwarded : forwardedCommandLines) {
                storeSources(forwarded);
            }
            forwardedCommandLines.clear();
            settingsReady = true;
        }

        cRecent::instance()->load(dataFolderPath);
        trace("load recent");

        // A missing language file leaves the interface in English; its
        // result is not needed.
        const std::u16string languagePath =
            languageFilePath(kestrel::cSystem::getApplicationPath(), settings->getLanguage());
        loadLanguage(languagePath);
        trace("load language " + narrow(languagePath));

        if (isTerminating()) {
            return; // the window was closed while loading
        }

        // The catalogue update runs for the channel folder, which a first
        // start creates so that the update can fill it; its result is not
        // looked at: an old catalogue is still good to browse.
        const std::u16string channels = channelFolderPath(dataFolderPath);
        ensureChannelFolder(channels);
        cPlayerDatabase* database = cPlayerDatabase::instance();
        database->setUpdateHooks({[] { requestUpdateScene(); }, {}});
        database->runUpdate(channels);
        trace("catalogue update");
        if (isTerminating()) {
            return;
        }

        if (!database->open(channels)) {
            throw kestrel::cException(u"Can't initialize player database. Please, re-install application.");
        }
        trace("open database");

        std::function<void()> probe;
        {
            std::lock_guard<std::mutex> guard(testHookLock);
            probe = initializationProbe;
        }
        if (probe) {
            probe();
        }

        if (isTerminating()) {
            return;
        }
        startGuide(channels);

        // First scene: the database-updated scene when the update installed
        // a new catalogue, otherwise the home scene.
        if (database->isNewCatalogue()) {
            requestNewDBScene();
            trace("request new catalogue scene");
        } else {
            requestHomeScene();
            trace("request home scene");
        }
    } catch (...) {
        // The box is shown from this thread while the stage stays alive;
        // then the program ends through its normal shutdown, which still
        // writes the settings and the recent list.
        trace("initialization failed");
        showApplicationExceptionInFlight();
        markRunFailed();
        requestMainLoopQuit();
    }
}

void cLumivexApplication::startGuide(const std::u16string& channelFolder)
{
    std::vector<std::string> sources;
    for (const std::u16string& guide : cSettings::instance()->getGuides()) {
        sources.push_back(kestrel::toUtf8(guide));
    }
    for (const std::string& guide : cPlayerDatabase::instance()->listGuideAddresses()) {
        if (std::find(sources.begin(), sources.end(), guide) == sources.end()) {
            sources.push_back(guide);
        }
    }
    if (sources.empty()) {
        return; // a guide of earlier sources stays as it is, and is shown
    }
    mGuideSchedule.start([sources, channelFolder](const std::function<bool()>& stopRequested) {
        refreshGuide(sources, channelFolder, cGuideLimits(), static_cast<int64_t>(std::time(nullptr)),
                     [stopRequested] { return stopRequested() || isApplicationTerminating(); });
    });
}

void cLumivexApplication::shutdown()
{
    // The initialisation thread may still be loading (the window can be
    // closed at any time): tell it to give up and wait for it before
    // anything it uses goes away.
    setTerminating(true);
    if (mInitializationThread.joinable()) {
        mInitializationThread.join();
    }
    trace("join initialization thread");
    // A guide being read is dropped (the old file stays); nothing after
    // this waits for it.
    mGuideSchedule.stop();
    // Later starts are no longer heard (the settings they would store go
    // below); the folder stays locked until the process ends.
    mInstanceLock.stopListening();

    destroyCurrentPlayer();
    trace("destroy current player");

    closeCurrentScene();
    // The closed scene let the screen sleep again; the desktop is told so
    // before the program's connections go.
    releaseScreenAwake();
    trace("close current scene");

    // Its destructor writes favorites.xml and closes the catalogue.
    cPlayerDatabase::destroyInstance();
    trace("destroy database");

    // Waits until every player handed to a destroyer has been torn down,
    // then deletes the player manager.
    shutdownPlayback();
    trace("destroy player manager");

    // The media framework goes last among the media steps: it must outlive
    // every player, including those still being torn down by the player
    // manager.
    shutdownMedia();
    trace("media shutdown");

    clearLanguage();
    trace("clear language");

    // The results are not looked at: there is nobody left to tell.
    cSettings::instance()->save(dataFolderPath + u"settings.xml");
    cSettings::destroyInstance();
    trace("save settings");

    cRecent::instance()->save(dataFolderPath);
    cRecent::destroyInstance();
    trace("save recent");
}

// --- entry point -------------------------------------------------------------

int lumivexMain(int argc, const char* const* argv)
{
    std::string workingFolder;
    {
        char* current = getcwd(nullptr, 0);
        workingFolder = current != nullptr ? current : "/";
        std::free(current);
    }
    const int status = handleCommandLine(
        argc, argv, workingFolder,
        [] { return cSettings::instance()->getDataFolder() + u"settings.xml"; }, std::cout, std::cerr,
        pendingCommandLine);
    if (status >= 0) {
        return status;
    }
    limitMemoryArenas();
    kestrel::cApplication* application = kestrel::cApplication::instance();
    if (application == nullptr) {
        return -1;
    }
    try {
        application->run(0, 0);
    } catch (...) {
        kestrel::reportFatalError();
        return 1;
    }
    return hasRunFailed() ? 1 : 0;
}

namespace apptesting {

void setStepTrace(std::function<void(const std::string& step)> newTrace)
{
    std::lock_guard<std::mutex> guard(testHookLock);
    stepTrace = std::move(newTrace);
}

void setInitializationProbe(std::function<void()> probe)
{
    std::lock_guard<std::mutex> guard(testHookLock);
    initializationProbe = std::move(probe);
}

} // namespace apptesting

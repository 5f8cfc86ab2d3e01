#include "ui/main_window.h"

#include <QCloseEvent>
#include <QDateTime>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QFontDatabase>
#include <QFontInfo>
#include <QGuiApplication>
#include <QIcon>
#include <QLocale>
#include <QMimeData>
#include <QScreen>
#include <QShortcut>
#include <QUrl>
#include <future>
#include <memory>
#include <new>
#include <optional>
#include <system_error>

// The icon is compiled into this static library; its resource must be registered by name.
static void RegisterIcons() {
    Q_INIT_RESOURCE(icons);
}

#include "ui/profile_window.h"
#include "ui/track_3d_window.h"

namespace cvqrn::ui {

namespace {

constexpr QColor kFieldBackground(64, 64, 64);
constexpr QColor kFieldText(192, 255, 192);

QRect PixelRect(const TwipRect& twips) {
    return ToPixels(twips).toRect();
}

void ApplyFieldColours(QWidget* widget) {
    QPalette palette = widget->palette();
    palette.setColor(QPalette::Base, kFieldBackground);
    palette.setColor(QPalette::Text, kFieldText);
    palette.setColor(QPalette::Window, kFieldBackground);
    palette.setColor(QPalette::WindowText, kFieldText);
    widget->setPalette(palette);
}

// A regular fixed-pitch font at 9 points for the message line: the system's
// fixed font where the platform names one, else the first monospaced family found.
QFont MessageFont() {
    QList<QFont> candidates{QFontDatabase::systemFont(QFontDatabase::FixedFont)};
    for (const char* family : {"Monospace", "DejaVu Sans Mono", "Liberation Mono", "Courier"}) {
        QFont font(QString::fromLatin1(family));
        font.setStyleHint(QFont::TypeWriter);
        candidates << font;
    }
    for (QFont& font : candidates) {
        font.setPointSize(9);
        font.setWeight(QFont::Normal);
        font.setFixedPitch(true);
        if (QFontInfo(font).fixedPitch()) return font;
    }
    return candidates.front();
}

// The one local .cvtrack file a drag carries; empty when it carries anything else.
QString DroppedTrack(const QMimeData* data) {
    if (data == nullptr || !data->hasUrls() || data->urls().size() != 1) return {};
    const QUrl url = data->urls().constFirst();
    if (!url.isLocalFile()) return {};
    const QString path = url.toLocalFile();
    const bool track =
        QFileInfo(path).suffix().compare(QLatin1String(kTrackExtension), Qt::CaseInsensitive) == 0;
    return track ? path : QString();
}

// Whether a window at `frame` would show enough of itself on a present screen
// to be grabbed and moved: its whole title banner.
bool OnAPresentScreen(const QRect& frame) {
    const QRect banner = ToPixels(kBannerPlate).toRect().translated(frame.topLeft());
    for (const QScreen* screen : QGuiApplication::screens()) {
        if (screen->availableGeometry().contains(banner)) return true;
    }
    return false;
}

// The profile the window shows after `job` ran on `loaded` (the file at
// `path`), as a refresh after the run would ask for it, with the settings the
// run took; nothing for a run that was refused or ran out of memory (the
// window then refreshes as after any click). `loadedProfile`, when valid, is
// the loaded track's profile worked out beside the run.
std::optional<ProfileModel> RunProfile(const TrackData& loaded, const std::string& path,
                                       const HeartlineJob& job,
                                       std::future<TrackProfile>& loadedProfile) {
    try {
        std::optional<TrackProfile> beside;
        if (loadedProfile.valid()) beside = loadedProfile.get();
        if (job.outOfMemory || job.result.status == Status::InvalidSettings) return {};
        ProfileRequest request =
            MakeProfileRequest(loaded, job.result ? &job.track : nullptr, job.settings);
        request.afterRun = true;
        request.afterFailedRun = !job.result;
        request.trackPath = path;
        request.when = QDateTime::currentDateTime()
                           .toString(QStringLiteral("yyyy-MM-dd HH:mm"))
                           .toStdString();
        // The run is over: the profiles take both cores.
        if (!beside) {
            beside = ProfileTrack(loaded, ProfileSettingsFor(request, Which::Loaded), OnTwoThreads);
        }
        std::optional<TrackProfile> rebuilt;
        if (request.rebuilt) {
            rebuilt = ProfileTrack(*request.rebuilt, ProfileSettingsFor(request, Which::Rebuilt),
                                   OnTwoThreads);
        }
        return AssembleProfileModel(request, std::move(beside), std::move(rebuilt), OnTwoThreads);
    } catch (const std::bad_alloc&) {
        return {};
    }
}

// The loaded track's profile at `settings`' speeds on a thread of its own:
// taken from `earlier` (a model made after the same load) when that holds
// it at these speeds, else worked out; invalid when no thread can be had.
std::future<TrackProfile> LoadedProfileBeside(const TrackData& loaded,
                                              const HeartlineSettings& settings,
                                              std::shared_ptr<const ProfileModel> earlier) {
    ProfileRequest speeds;
    speeds.settings = settings;
    const ProfileSettings wanted = ProfileSettingsFor(speeds, Which::Loaded);
    try {
        return std::async(std::launch::async, [&loaded, wanted, earlier = std::move(earlier)] {
            if (earlier && earlier->loaded && earlier->loaded->settings == wanted) {
                return TrackProfile{*earlier->loaded, earlier->loadedPlots};
            }
            return ProfileTrack(loaded, wanted);
        });
    } catch (const std::system_error&) {
        return {};
    }
}

}  // namespace

QSettings MainWindow::Settings() {
    return QSettings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("CV-QRN"),
                     QStringLiteral("cv-qrn"));
}

MainWindow::MainWindow(TrackOperations& operations, FileChooser* chooser,
                       MessageBoxPresenter* boxes) {
    setWindowTitle(QString::fromLatin1(kWindowTitle));
    RegisterIcons();
    setWindowIcon(QIcon::fromTheme(QStringLiteral("cv-qrn"),
                                   QIcon(QStringLiteral(":/icons/cv-qrn.svg"))));
    setAcceptDrops(true);
    if (chooser == nullptr) {
        ownChooser_ = std::make_unique<QtFileChooser>(this);
        chooser = ownChooser_.get();
    }
    if (boxes == nullptr) {
        ownBoxes_ = std::make_unique<QtMessageBoxPresenter>();
        boxes = ownBoxes_.get();
    }
    boxes_ = boxes;
    WindowView& view = *this;
    MessageTimer& timer = *this;
    logic_ = std::make_unique<WindowLogic>(view, timer, *chooser, operations);
    runThread_ = std::make_unique<RunThread>(nullptr);

    CreateControls();
    // The ride profile: its control on the Track Data plate, Ctrl+G, its window.
    RideProfileHookup* profile =
        AttachRideProfile(*this, *logic_, [this](Field field) { return FieldText(field); });
    HotSpot* profileControl = AddHotSpot(
        kProfilePlace, [](QPainter& painter, Look look) { PaintProfileControl(painter, look); });
    connect(profileControl, &HotSpot::clicked, profile, &RideProfileHookup::Open);
    // The track in 3D: Ctrl+3, and the profile window's button.
    AttachTrack3d(*this, *profile);

    // The three actions from the keyboard; the focus stays where it is.
    const auto bind = [this](QKeySequence keys, void (MainWindow::*action)()) {
        auto* shortcut = new QShortcut(keys, this);
        shortcut->setContext(Qt::WindowShortcut);
        connect(shortcut, &QShortcut::activated, this, action);
    };
    bind(QKeySequence(Qt::CTRL | Qt::Key_O), &MainWindow::LoadClicked);
    bind(QKeySequence(Qt::CTRL | Qt::Key_Return), &MainWindow::HeartlineClicked);
    bind(QKeySequence(Qt::CTRL | Qt::Key_Enter), &MainWindow::HeartlineClicked);  // keypad
    bind(QKeySequence(Qt::CTRL | Qt::Key_S), &MainWindow::SaveClicked);

    RestorePlaces();
    logic_->Start();
}

MainWindow::~MainWindow() {
    runThread_.reset();  // a run still working is waited for while its window is whole
}

void MainWindow::RestorePlaces() {
    QSettings settings = Settings();
    logic_->SetFolders(settings.value(QStringLiteral("folders/load")).toString().toStdString(),
                       settings.value(QStringLiteral("folders/save")).toString().toStdString());
    const QVariant position = settings.value(QStringLiteral("window/position"));
    if (position.canConvert<QPoint>() && OnAPresentScreen(QRect(position.toPoint(), size()))) {
        move(position.toPoint());
    }
}

void MainWindow::RememberPlaces() {
    QSettings settings = Settings();
    settings.setValue(QStringLiteral("folders/load"), QString::fromStdString(logic_->LoadFolder()));
    settings.setValue(QStringLiteral("folders/save"), QString::fromStdString(logic_->SaveFolder()));
    if (isVisible()) settings.setValue(QStringLiteral("window/position"), pos());
}

void MainWindow::LoadFile(const QString& path) {
    if (logic_->Running()) return;
    logic_->LoadFile(path.toStdString());
    AfterLoad();
}

void MainWindow::AfterLoad() {
    RememberPlaces();
    RefreshRideProfile(*this, false);
}

void MainWindow::dragEnterEvent(QDragEnterEvent* event) {
    if (!DroppedTrack(event->mimeData()).isEmpty()) event->acceptProposedAction();
}

void MainWindow::dropEvent(QDropEvent* event) {
    const QString path = DroppedTrack(event->mimeData());
    if (path.isEmpty()) return;
    event->acceptProposedAction();
    LoadFile(path);
}

void MainWindow::closeEvent(QCloseEvent* event) {
    RememberPlaces();
    ShapedWindow::closeEvent(event);
}

void MainWindow::CreateControls() {
    timer_ = new QTimer(this);
    timer_->setObjectName(QStringLiteral("message_timer"));
    timer_->setSingleShot(true);
    connect(timer_, &QTimer::timeout, this, [this] { logic_->MessageTimerFired(); });

    QFont fieldFont = font();
    fieldFont.setPixelSize(10);

    // Created in reverse tab order, as the panel was laid out; the tab order is set below.
    for (auto it = kFieldSpecs.rbegin(); it != kFieldSpecs.rend(); ++it) {
        const FieldSpec& spec = *it;
        auto* field = new TextField(this, spec.parameter, spec.allowDecimal, spec.allowMinus);
        field->setObjectName(QString::fromLatin1(spec.name));
        field->setGeometry(PixelRect(PlaceOf(spec.field).box));
        field->setText(QString::fromStdString(InitialText(spec.field)));
        field->setToolTip(QString::fromLatin1(spec.toolTip));
        const char* caption = PlaceOf(spec.field).caption;
        field->setAccessibleName(QString::fromLatin1(caption));
        field->setAccessibleDescription(
            spec.parameter ? QString::fromLatin1(spec.toolTip)
                           : QStringLiteral("%1 of the track, from the end analysis (read only)")
                                 .arg(QString::fromLatin1(caption)));
        field->setFrame(false);
        field->setFont(fieldFont);
        ApplyFieldColours(field);
        if (spec.field == Field::Precision) {
            connect(field, &TextField::lostFocus, this, [this] { logic_->PrecisionLostFocus(); });
        }
        fields_[static_cast<size_t>(spec.field)] = field;
    }
    for (int i = 0; i + 1 < kFieldCount; ++i) {
        setTabOrder(fields_[static_cast<size_t>(i)], fields_[static_cast<size_t>(i + 1)]);
    }

    for (int i = 2; i >= 0; --i) {
        auto* light = new StatusLight(this, kLightBoxes[static_cast<size_t>(i)]);
        light->setObjectName(QStringLiteral("statuslight%1").arg(i + 1));
        static constexpr const char* kStages[] = {"Track loaded", "Track heartlined",
                                                  "Track saved"};
        light->setAccessibleName(QString::fromLatin1(kStages[i]));
        light->setAccessibleDescription(
            QStringLiteral("Green when this stage is done, red while it is open"));
        light->hide();
        lights_[static_cast<size_t>(i)] = light;
    }

    const auto button = [this](Button which, void (MainWindow::*action)()) {
        HotSpot* spot = AddHotSpot(PlaceOf(which), [which](QPainter& painter, Look look) {
            PaintButtonFace(painter, which, look);
        });
        connect(spot, &HotSpot::clicked, this, action);
    };
    button(Button::Save, &MainWindow::SaveClicked);
    button(Button::Heartline, &MainWindow::HeartlineClicked);
    button(Button::Load, &MainWindow::LoadClicked);
    const auto knob = [this](Knob which, void (ShapedWindow::*action)()) {
        HotSpot* spot = AddHotSpot(PlaceOf(which), [which](QPainter& painter, Look look) {
            PaintKnob(painter, which, look);
        });
        connect(spot, &HotSpot::clicked, this, action);
    };
    knob(Knob::Minimise, &ShapedWindow::MinimizeClicked);
    knob(Knob::Close, &ShapedWindow::CloseClicked);

    smooth_ = new SkinSwitch(this, [](QPainter& painter, bool on, Look look) {
        PaintSmoothSwitch(painter, on, look);
    });
    smooth_->setObjectName(QString::fromLatin1(kSmoothPlace.name));
    smooth_->setGeometry(PixelRect(kSmoothPlace.box));
    smooth_->setToolTip(QString::fromLatin1(kSmoothPlace.toolTip));
    smooth_->setAccessibleName(QString::fromLatin1(kSmoothCaption));
    smooth_->setAccessibleDescription(QString::fromLatin1(kSmoothPlace.description));
    connect(smooth_, &SkinSwitch::toggled, this, [this](bool on) { logic_->SetSmoothRide(on); });

    message_ = new MessageLine(this);
    message_->setObjectName(QStringLiteral("Message_Label"));
    message_->setGeometry(PixelRect(kMessageBox));
    message_->setAlignment(Qt::AlignCenter);
    message_->setFont(MessageFont());
    ApplyFieldColours(message_);
    message_->setAutoFillBackground(false);
    message_->setAccessibleName(QStringLiteral("Message"));
    message_->setAccessibleDescription(QStringLiteral("What the last action did"));

    progress_ = new ProgressTube(this);
    progress_->setObjectName(QStringLiteral("Progressbar"));
    progress_->setAccessibleName(QStringLiteral("Heartline progress"));
    progress_->setAccessibleDescription(QStringLiteral("Rises while a heartline run works"));
    progress_->hide();

    fields_[static_cast<size_t>(Field::Segments)]->setFocus();
}

HotSpot* MainWindow::AddHotSpot(const HotSpotPlace& place,
                                std::function<void(QPainter&, Look)> paintFace) {
    auto* spot = new HotSpot(this, std::move(paintFace));
    spot->setObjectName(QString::fromLatin1(place.name));
    spot->setGeometry(PixelRect(place.box));
    spot->setToolTip(QString::fromLatin1(place.toolTip));
    spot->setAccessibleName(QString::fromLatin1(place.face[0] != '\0' ? place.face
                                                                        : place.toolTip));
    spot->setAccessibleDescription(QString::fromLatin1(place.description));
    return spot;
}

void MainWindow::LoadClicked() {
    if (logic_->Running()) return;
    logic_->LoadClicked();
    AfterLoad();
}

void MainWindow::HeartlineClicked() {
    if (logic_->Running()) return;
    std::optional<HeartlineJob> started = logic_->StartHeartline();
    if (!started) {
        RefreshRideProfile(*this, true);
        return;
    }
    // The job and the profile the run's thread works out for an open profile
    // window, shared by the run's two ends.
    struct Shared {
        HeartlineJob job;
        std::optional<ProfileModel> profile;
    };
    auto shared = std::make_shared<Shared>(Shared{std::move(*started), std::nullopt});
    const bool withProfile = ProfileOnShow();
    std::shared_ptr<const ProfileModel> earlier = withProfile ? RideProfileOfThisLoad(*this) : nullptr;
    runThread_->Start(
        [this, shared, withProfile, earlier](ProgressFeedback* progress) {
            // The loaded track (which nothing changes while the run works) is
            // profiled beside the run, the rebuilt one after it.
            const TrackData& loaded = logic_->LoadedTrack();
            std::future<TrackProfile> loadedProfile;
            if (withProfile) {
                loadedProfile = LoadedProfileBeside(loaded, shared->job.settings, earlier);
            }
            logic_->RunHeartline(shared->job, progress);
            if (withProfile) {
                shared->profile =
                    RunProfile(loaded, logic_->TrackFileName(), shared->job, loadedProfile);
            }
        },
        [this](int32_t done, int32_t total) { logic_->feedback(done, total); },
        [this, shared] {
            logic_->FinishHeartline(std::move(shared->job));
            if (shared->profile) {
                ShowRideProfile(*this, std::move(*shared->profile));
            } else {
                RefreshRideProfile(*this, true);
            }
            emit runFinished();
        });
}

bool MainWindow::ProfileOnShow() const {
    for (const QWidget* shown : {static_cast<QWidget*>(findChild<ProfileWindow*>()),
                                 static_cast<QWidget*>(findChild<Track3dWindow*>())}) {
        if (shown != nullptr && shown->isVisible()) return true;
    }
    return false;
}

void MainWindow::SaveClicked() {
    if (logic_->Running()) return;
    logic_->SaveClicked();
    RememberPlaces();
}

std::string MainWindow::FieldText(Field field) const {
    return FieldWidget(field)->text().toStdString();
}

void MainWindow::SetFieldText(Field field, const std::string& text) {
    FieldWidget(field)->setText(QString::fromStdString(text));
}

void MainWindow::SetLightVisible(Light light, bool visible) {
    LightWidget(light)->setVisible(visible);
}

void MainWindow::SetProgressVisible(bool visible) {
    progress_->setVisible(visible);
}

void MainWindow::SetProgress(double fraction) {
    // The skin's tube rises in whole twips.
    progress_->SetShape(ProgressBarShape(fraction));
}

void MainWindow::SetMessageText(const std::string& text) {
    message_->setText(QString::fromStdString(text));
}

void MainWindow::ShowMessageBox(const MessageBoxRequest& request) {
    boxes_->Show(this, request);
}

bool MainWindow::AskYesNo(const MessageBoxRequest& request) {
    return boxes_->Ask(this, request);
}

void MainWindow::ArmSkipNextMove() {
    Drag().SkipNextMove = true;
}

std::string MainWindow::DecimalSeparator() const {
    return QLocale().decimalPoint().toStdString();
}

void MainWindow::Start(int32_t intervalMs) {
    timer_->start(intervalMs);
}

void MainWindow::Stop() {
    timer_->stop();
}

}  // namespace cvqrn::ui

#include "ui/track_3d_window.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLinearGradient>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QShortcut>
#include <QSurfaceFormat>
#include <QTimer>
#include <QVBoxLayout>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>
#include <numbers>

#include "ui/profile_window.h"

namespace cvqrn::ui {

namespace {

using scene::Vecd;

constexpr float kBackground[3] = {0.11f, 0.13f, 0.16f};
constexpr double kPickPixels = 8.0;
constexpr double kCursorMarkerSize = 2.2;   // metres
constexpr double kCursorMarkerLift = 1.8;   // above the rail along the rider's up
constexpr double kDragTurn = 0.008;         // radians per pixel
constexpr int kPlayIntervalMs = 33;

// Lit triangles (two-sided: the rails and ties are seen from every side) or
// plain lines, with the colour per vertex or one for all.
const char* const kVertexShader = R"(
attribute vec3 position;
attribute vec3 normal;
attribute vec3 colour;
uniform mat4 viewProjection;
uniform vec3 light;
uniform float lit;
varying vec3 shade;
void main() {
    float diffuse = abs(dot(normalize(normal), light));
    shade = colour * mix(1.0, 0.38 + 0.62 * diffuse, lit);
    gl_Position = viewProjection * vec4(position, 1.0);
}
)";
const char* const kFragmentShader = R"(
varying vec3 shade;
void main() {
    gl_FragColor = vec4(shade, 1.0);
}
)";

QVector3D ToQt(const Vecd& v) {
    return {static_cast<float>(v.x), static_cast<float>(v.y), static_cast<float>(v.z)};
}

QColor ToColour(const scene::Rgb& c) {
    return QColor::fromRgbF(c.r, c.g, c.b);
}

template <typename T>
void Fill(QOpenGLBuffer& buffer, const std::vector<T>& data) {
    if (!buffer.isCreated()) buffer.create();
    buffer.bind();
    buffer.allocate(data.data(), static_cast<int>(data.size() * sizeof(T)));
    buffer.release();
}

}  // namespace

// ---- The drawing -------------------------------------------------------------------

TrackGlView::TrackGlView(QWidget* parent) : QOpenGLWidget(parent) {
    QSurfaceFormat format = QSurfaceFormat::defaultFormat();
    format.setDepthBufferSize(24);
    format.setSamples(0);
    setFormat(format);
    setMouseTracking(true);
    setFocusPolicy(Qt::StrongFocus);
    setMinimumSize(320, 240);
}

TrackGlView::~TrackGlView() {
    if (!glReady_) return;
    makeCurrent();
    for (GpuMesh* gpu : {&track_, &drawn_, &rebuilt_, &valley_, &marker_}) Release(*gpu);
    railLines_.destroy();
    doneCurrent();
}

void TrackGlView::Release(GpuMesh& gpu) {
    for (QOpenGLBuffer* b : {&gpu.positions, &gpu.normals, &gpu.colours, &gpu.indices}) b->destroy();
    gpu.count = 0;
}

void TrackGlView::SetScene(const scene::TrackScene* scene, bool resetCamera) {
    scene_ = scene;
    dirty_ = true;
    if (resetCamera && scene_ != nullptr) ResetCamera();
    update();
}

void TrackGlView::ResetCamera() {
    untouched_ = true;
    if (scene_ != nullptr) camera_.Reset(scene_->bounds, scene_->path.rail, Aspect());
    update();
}

void TrackGlView::SetCursor(std::optional<double> distance) {
    cursor_ = distance;
    dirty_ = true;
    update();
}

void TrackGlView::SetRide(bool ride) {
    ride_ = ride;
    dirty_ = true;
    update();
}

void TrackGlView::initializeGL() {
    initializeOpenGLFunctions();
    program_.addShaderFromSourceCode(QOpenGLShader::Vertex, kVertexShader);
    program_.addShaderFromSourceCode(QOpenGLShader::Fragment, kFragmentShader);
    program_.bindAttributeLocation("position", 0);
    program_.bindAttributeLocation("normal", 1);
    program_.bindAttributeLocation("colour", 2);
    program_.link();
    glReady_ = true;
    dirty_ = true;
}

void TrackGlView::resizeGL(int, int) {
    // A view the user has not moved since its reset fits the new shape.
    if (untouched_) ResetCamera();
}

void TrackGlView::UploadMesh(GpuMesh& gpu, const scene::TriangleMesh& mesh) {
    gpu.count = static_cast<int>(mesh.indices.size());
    if (gpu.count == 0) return;
    Fill(gpu.positions, mesh.positions);
    Fill(gpu.normals, mesh.normals);
    Fill(gpu.colours, mesh.colours);
    Fill(gpu.indices, mesh.indices);
}

void TrackGlView::UploadLine(GpuMesh& gpu, const scene::LineStrip& line) {
    gpu.count = static_cast<int>(line.positions.size() / 3);
    if (gpu.count > 0) Fill(gpu.positions, line.positions);
}

void TrackGlView::Upload() {
    dirty_ = false;
    const bool hasPath = scene_ != nullptr && scene_->path.size() > 0;
    if (scene_ != nullptr) {
        UploadMesh(track_, scene_->track);
        if (!scene_->railLines.empty()) Fill(railLines_, scene_->railLines);
        UploadLine(drawn_, scene_->drawnHeart);
        UploadLine(rebuilt_, scene_->rebuiltHeart);
        UploadMesh(valley_, scene_->valleyMarker);
        drawnColour_ = scene_->drawnHeart.colour;
        rebuiltColour_ = scene_->rebuiltHeart.colour;
    } else {
        track_.count = drawn_.count = rebuilt_.count = valley_.count = 0;
    }
    marker_.count = 0;
    if (hasPath && cursor_ && !ride_) {
        const scene::Pose pose = scene::PoseAt(scene_->path, *cursor_);
        UploadMesh(marker_, scene::MarkerMesh(pose.rail + kCursorMarkerLift * pose.up,
                                              kCursorMarkerSize, scene::kCursorColour));
    }
}

double TrackGlView::Aspect() const {
    return static_cast<double>(width()) / std::max(height(), 1);
}

scene::CameraLook TrackGlView::CurrentLook() const {
    if (ride_ && scene_ != nullptr && scene_->path.size() > 0) {
        return scene::RiderLook(scene_->path, cursor_.value_or(0.0));
    }
    return camera_.Look();
}

QMatrix4x4 TrackGlView::ViewProjection() const {
    const scene::CameraLook look = CurrentLook();
    const double radius = scene_ != nullptr ? std::max(scene_->bounds.Radius(), 10.0) : 100.0;
    QMatrix4x4 projection;
    const auto aspect = static_cast<float>(Aspect());
    if (ride_) {
        projection.perspective(static_cast<float>(scene::kRideFieldOfViewDeg), aspect, 0.05f,
                               static_cast<float>(4.0 * radius));
    } else {
        const double distance = camera_.Distance();
        projection.perspective(static_cast<float>(scene::kFieldOfViewDeg), aspect,
                               static_cast<float>(std::max(0.05, 0.01 * distance)),
                               static_cast<float>(distance + 3.0 * radius));
    }
    QMatrix4x4 view;
    view.lookAt(ToQt(look.eye), ToQt(look.target), ToQt(look.up));
    return projection * view;
}

std::optional<QPointF> TrackGlView::ToPixel(const Vecd& point) const {
    const QVector4D clip = ViewProjection() * QVector4D(ToQt(point), 1.0f);
    if (!(clip.w() > 0.0f)) return std::nullopt;
    const double x = static_cast<double>(clip.x() / clip.w());
    const double y = static_cast<double>(clip.y() / clip.w());
    return QPointF((x + 1.0) * 0.5 * width(), (1.0 - y) * 0.5 * height());
}

double TrackGlView::FocalPixels() const {
    return scene::FocalPixels(height(), ride_ ? scene::kRideFieldOfViewDeg : scene::kFieldOfViewDeg);
}

std::optional<size_t> TrackGlView::PickAt(const QPointF& pixel) const {
    if (scene_ == nullptr || scene_->path.size() == 0) return std::nullopt;
    const QMatrix4x4 inverse = ViewProjection().inverted();
    const auto x = static_cast<float>(2.0 * pixel.x() / width() - 1.0);
    const auto y = static_cast<float>(1.0 - 2.0 * pixel.y() / height());
    const QVector3D nearPoint = inverse.map(QVector3D(x, y, -1.0f));
    const QVector3D farPoint = inverse.map(QVector3D(x, y, 1.0f));
    const auto vec = [](const QVector3D& v) {
        return Vecd{static_cast<double>(v.x()), static_cast<double>(v.y()),
                    static_cast<double>(v.z())};
    };
    return scene::PickSample(scene_->path, {vec(nearPoint), vec(farPoint - nearPoint)},
                             kPickPixels / FocalPixels());
}

void TrackGlView::BindVertices(GpuMesh& gpu) {
    gpu.positions.bind();
    program_.enableAttributeArray(0);
    program_.setAttributeBuffer(0, GL_FLOAT, 0, 3);
    gpu.normals.bind();
    program_.enableAttributeArray(1);
    program_.setAttributeBuffer(1, GL_FLOAT, 0, 3);
    gpu.colours.bind();
    program_.enableAttributeArray(2);
    program_.setAttributeBuffer(2, GL_FLOAT, 0, 3);
    gpu.colours.release();
}

void TrackGlView::DrawMesh(GpuMesh& gpu) {
    if (gpu.count == 0) return;
    program_.setUniformValue("lit", 1.0f);
    BindVertices(gpu);
    gpu.indices.bind();
    glDrawElements(GL_TRIANGLES, gpu.count, GL_UNSIGNED_INT, nullptr);
    gpu.indices.release();
}

void TrackGlView::DrawTrack(const QMatrix4x4& viewProjection, const scene::CameraLook& look) {
    if (track_.count == 0) return;
    scene::ViewVolume volume;
    const float* m = viewProjection.constData();  // column-major, as the volume's
    std::copy(m, m + 16, volume.viewProjection.begin());
    volume.eye = look.eye;
    volume.focalPixels = FocalPixels();
    const scene::DrawList list = scene::ChooseDetail(*scene_, volume);
    const auto offset = [](const scene::IndexRange& r) {
        return reinterpret_cast<const void*>(static_cast<uintptr_t>(r.first) * sizeof(uint32_t));
    };
    BindVertices(track_);
    program_.setUniformValue("lit", 1.0f);
    track_.indices.bind();
    for (const scene::IndexRange& r : list.triangles) {
        glDrawElements(GL_TRIANGLES, static_cast<GLsizei>(r.count), GL_UNSIGNED_INT, offset(r));
    }
    track_.indices.release();
    if (list.lines.empty()) return;
    program_.setUniformValue("lit", 0.0f);
    railLines_.bind();
    for (const scene::IndexRange& r : list.lines) {
        glDrawElements(GL_LINES, static_cast<GLsizei>(r.count), GL_UNSIGNED_INT, offset(r));
    }
    railLines_.release();
}

void TrackGlView::DrawLine(GpuMesh& gpu, const scene::Rgb& colour) {
    if (gpu.count < 2) return;
    program_.setUniformValue("lit", 0.0f);
    gpu.positions.bind();
    program_.enableAttributeArray(0);
    program_.setAttributeBuffer(0, GL_FLOAT, 0, 3);
    program_.disableAttributeArray(1);
    program_.disableAttributeArray(2);
    program_.setAttributeValue(1, 0.0f, 1.0f, 0.0f);
    program_.setAttributeValue(2, colour.r, colour.g, colour.b);
    glDrawArrays(GL_LINE_STRIP, 0, gpu.count);
    gpu.positions.release();
}

void TrackGlView::paintGL() {
    if (dirty_) Upload();
    glClearColor(kBackground[0], kBackground[1], kBackground[2], 1.0f);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    if (scene_ == nullptr) return;
    glEnable(GL_DEPTH_TEST);
    program_.bind();
    const QMatrix4x4 viewProjection = ViewProjection();
    program_.setUniformValue("viewProjection", viewProjection);
    const scene::CameraLook look = CurrentLook();
    // Light from over the viewer's shoulder.
    const QVector3D toEye = ToQt(look.eye - look.target).normalized();
    program_.setUniformValue("light", (toEye + QVector3D(0.3f, 0.8f, 0.2f)).normalized());
    glLineWidth(1.0f);
    DrawTrack(viewProjection, look);
    DrawMesh(valley_);
    DrawMesh(marker_);
    glLineWidth(2.0f);
    DrawLine(drawn_, drawnColour_);
    DrawLine(rebuilt_, rebuiltColour_);
    program_.release();
}

double TrackGlView::TimeOneFrame() {
    makeCurrent();
    QElapsedTimer timer;
    timer.start();
    paintGL();
    glFinish();
    const double ms = static_cast<double>(timer.nsecsElapsed()) / 1e6;
    doneCurrent();
    return ms;
}

void TrackGlView::mousePressEvent(QMouseEvent* event) {
    pressAt_ = lastAt_ = event->position();
    dragging_ = event->button();
    moved_ = false;
}

void TrackGlView::mouseMoveEvent(QMouseEvent* event) {
    const QPointF at = event->position();
    if (dragging_ == Qt::NoButton) {
        emit Hovered(PickAt(at));
        return;
    }
    const QPointF delta = at - lastAt_;
    lastAt_ = at;
    if ((at - pressAt_).manhattanLength() > 3.0) moved_ = true;
    if (ride_) return;
    if (dragging_ == Qt::LeftButton && !(event->modifiers() & Qt::ShiftModifier)) {
        camera_.Orbit(delta.x() * kDragTurn, delta.y() * kDragTurn);
    } else {
        const double h = std::max(height(), 1);
        camera_.Pan(-delta.x() / h, delta.y() / h);
    }
    untouched_ = false;
    update();
}

void TrackGlView::mouseReleaseEvent(QMouseEvent* event) {
    const bool click = !moved_ && dragging_ == Qt::LeftButton;
    dragging_ = Qt::NoButton;
    if (!click) return;
    if (const auto sample = PickAt(event->position())) emit Clicked(*sample);
}

void TrackGlView::wheelEvent(QWheelEvent* event) {
    if (ride_) return;
    const double steps = event->angleDelta().y() / 120.0;
    camera_.Zoom(std::pow(0.85, steps));
    untouched_ = false;
    update();
}

void TrackGlView::leaveEvent(QEvent*) {
    emit Hovered(std::nullopt);
}

void TrackGlView::keyPressEvent(QKeyEvent* event) {
    using scene::ViewKey;
    std::optional<ViewKey> key;
    switch (event->key()) {
        case Qt::Key_Left: key = ViewKey::Left; break;
        case Qt::Key_Right: key = ViewKey::Right; break;
        case Qt::Key_Up: key = ViewKey::Up; break;
        case Qt::Key_Down: key = ViewKey::Down; break;
        case Qt::Key_Plus:
        case Qt::Key_Equal: key = ViewKey::ZoomIn; break;
        case Qt::Key_Minus: key = ViewKey::ZoomOut; break;
        case Qt::Key_Home: key = ViewKey::Reset; break;
        default: break;
    }
    if (!key || scene_ == nullptr || ride_) {
        QOpenGLWidget::keyPressEvent(event);
        return;
    }
    scene::PressKey(camera_, *key, event->modifiers() & Qt::ShiftModifier, scene_->bounds,
                    scene_->path.rail, Aspect());
    untouched_ = *key == scene::ViewKey::Reset;
    update();
}

// ---- The legend ---------------------------------------------------------------------

ForceLegend::ForceLegend(QWidget* parent) : QWidget(parent) {
    setMinimumWidth(360);
}

void ForceLegend::SetChannel(scene::ForceChannel channel) {
    channel_ = channel;
    update();
}

QSize ForceLegend::sizeHint() const {
    return {520, 40};
}

void ForceLegend::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const scene::ColourScale& scale = scene::ScaleOf(channel_);
    const QFontMetrics metrics(font());
    const int swatchWidth = 150;
    const QRectF bar(8, 4, width() - 16 - 2 * swatchWidth, 14);
    const double lo = scale.stops.front().g;
    const double hi = scale.stops.back().g;
    QLinearGradient gradient(bar.topLeft(), bar.topRight());
    for (const scene::ScaleStop& stop : scale.stops) {
        gradient.setColorAt((stop.g - lo) / (hi - lo), ToColour(stop.colour));
    }
    painter.fillRect(bar, gradient);
    painter.setPen(palette().color(QPalette::WindowText));
    for (const scene::ScaleStop& stop : scale.stops) {
        const double x = bar.left() + (stop.g - lo) / (hi - lo) * bar.width();
        painter.drawLine(QPointF(x, bar.bottom()), QPointF(x, bar.bottom() + 3));
        const QString label = QString::number(stop.g, 'f', 1) + QStringLiteral(" g");
        const double w = metrics.horizontalAdvance(label);
        painter.drawText(QPointF(std::clamp(x - w / 2, 0.0, width() - w), bar.bottom() + 5 + metrics.ascent()),
                         label);
    }
    const auto swatch = [&](double x, const scene::Rgb& colour, const QString& text) {
        painter.fillRect(QRectF(x, bar.top(), 14, 14), ToColour(colour));
        painter.drawText(QPointF(x + 18, bar.top() + metrics.ascent()), text);
    };
    swatch(bar.right() + 12, scene::kExceedColour, QStringLiteral("beyond comfort"));
    swatch(bar.right() + 12 + swatchWidth, scene::kNoForceColour, QStringLiteral("no force"));
}

// ---- The window -----------------------------------------------------------------------

Track3dWindow::Track3dWindow(QWidget* parent) : QWidget(parent, Qt::Window) {
    setWindowTitle(QString::fromLatin1(kTrack3dWindowTitle));
    setObjectName(QStringLiteral("Track3d"));
    auto* outer = new QVBoxLayout(this);
    auto* bar = new QHBoxLayout;
    ride_ = new QPushButton(QStringLiteral("Ride"), this);
    ride_->setCheckable(true);
    ride_->setToolTip(QStringLiteral("The rider's view from the seat at the cursor"));
    auto* reset = new QPushButton(QStringLiteral("Reset view"), this);
    reset->setToolTip(QStringLiteral("Show the whole track again (Home)"));
    play_ = new QPushButton(QStringLiteral("Play"), this);
    play_->setCheckable(true);
    play_->setToolTip(QStringLiteral("Moves the cursor along the track at the train's speed (Space)"));
    colours_ = new QComboBox(this);
    for (scene::ForceChannel c : scene::kForceChannels) {
        colours_->addItem(QString::fromLatin1(scene::ChannelName(c)) + QStringLiteral(" g"));
    }
    colours_->setToolTip(QStringLiteral("The felt force that colours the track"));
    legend_ = new ForceLegend(this);
    bar->addWidget(ride_);
    bar->addWidget(reset);
    bar->addWidget(play_);
    bar->addWidget(colours_);
    bar->addWidget(legend_, 1);
    outer->addLayout(bar);
    view_ = new TrackGlView(this);
    outer->addWidget(view_, 1);
    readOut_ = new QLabel(this);
    readOut_->setObjectName(QStringLiteral("ReadOut3d"));
    readOut_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    outer->addWidget(readOut_);

    player_ = new QTimer(this);
    player_->setInterval(kPlayIntervalMs);
    connect(player_, &QTimer::timeout, this, &Track3dWindow::Step);
    connect(ride_, &QPushButton::toggled, this, [this](bool on) {
        if (on && !cursor_) SetCursor(0.0);
        view_->SetRide(on);
    });
    connect(reset, &QPushButton::clicked, view_, &TrackGlView::ResetCamera);
    connect(play_, &QPushButton::toggled, this, &Track3dWindow::SetPlaying);
    connect(colours_, &QComboBox::currentIndexChanged, this, [this](int index) {
        SetChannel(scene::kForceChannels[static_cast<size_t>(std::clamp(index, 0, 2))]);
    });
    connect(view_, &TrackGlView::Hovered, this, [this](std::optional<size_t> sample) {
        readOut_->setText(sample ? QString::fromStdString(scene::HoverText(scene_.path, *sample))
                                 : QStringLiteral("Hover the track for its values; click it to "
                                                  "move the cursor there."));
    });
    connect(view_, &TrackGlView::Clicked, this, [this](size_t sample) {
        SetCursor(scene_.path.distance[sample]);
        emit CursorMoved(*cursor_);
    });
    auto* space = new QShortcut(QKeySequence(Qt::Key_Space), this);
    connect(space, &QShortcut::activated, play_, &QPushButton::toggle);
    auto* close = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_3), this);
    connect(close, &QShortcut::activated, this, &QWidget::close);
    emit view_->Hovered(std::nullopt);
    resize(1100, 760);
}

void Track3dWindow::SetModel(const ProfileModel& model) {
    const bool hadTrack = scene_.path.size() > 0;
    model_ = model;
    Rebuild(!hadTrack);
}

void Track3dWindow::SetChannel(scene::ForceChannel channel) {
    channel_ = channel;
    colours_->setCurrentIndex(static_cast<int>(channel));
    legend_->SetChannel(channel);
    Rebuild(false);
}

void Track3dWindow::Rebuild(bool resetCamera) {
    scene::SceneInput input;
    input.channel = channel_;
    if (model_) {
        const auto usable = [](const std::optional<RideProfile>& p) {
            return p && *p && !p->samples.empty() ? &*p : nullptr;
        };
        input.drawnHeart = usable(model_->loaded);
        input.rebuiltHeart = usable(model_->rebuilt);
        input.track = input.rebuiltHeart != nullptr ? input.rebuiltHeart : input.drawnHeart;
        if (model_->valley) input.valley = ProfilePoint{model_->valley->x, model_->valley->y, model_->valley->z};
    }
    scene_ = scene::BuildTrackScene(input);
    view_->SetScene(&scene_, resetCamera);
}

void Track3dWindow::SetCursor(double distance) {
    cursor_ = distance;
    view_->SetCursor(distance);
}

void Track3dWindow::SetPlaying(bool playing) {
    if (playing == player_->isActive()) return;
    if (playing) {
        if (scene_.path.size() == 0) return;
        if (!cursor_ || *cursor_ >= scene_.path.distance.back()) SetCursor(0.0);
        clock_.start();
        player_->start();
    } else {
        player_->stop();
    }
    const QSignalBlocker block(play_);
    play_->setChecked(playing);
    play_->setText(playing ? QStringLiteral("Pause") : QStringLiteral("Play"));
}

bool Track3dWindow::Playing() const {
    return player_->isActive();
}

void Track3dWindow::Step() {
    const double seconds = static_cast<double>(clock_.restart()) / 1000.0;
    const double from = cursor_.value_or(0.0);
    const double to = scene::RideOn(scene_.path, from, seconds);
    if (to == from) {
        SetPlaying(false);  // at the end, or where the train stops
        return;
    }
    SetCursor(to);
    emit CursorMoved(to);
}

// ---- Hookup ------------------------------------------------------------------------------

Track3dHookup::Track3dHookup(QWidget& mainWindow, RideProfileHookup& profile)
    : QObject(&mainWindow), main_(mainWindow), profile_(profile) {
    setObjectName(QStringLiteral("Track3dHookup"));
    auto* shortcut = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_3), &mainWindow);
    shortcut->setContext(Qt::WindowShortcut);
    connect(shortcut, &QShortcut::activated, this, &Track3dHookup::Toggle);
    connect(&profile_, &RideProfileHookup::Open3dRequested, this, &Track3dHookup::Open);
    connect(&profile_, &RideProfileHookup::Refreshed, this, [this] {
        stale_ = true;
        if (window_ != nullptr && window_->isVisible()) Refresh();
    });
    connect(&profile_, &RideProfileHookup::CursorMoved, this, [this](double distance) {
        if (window_ != nullptr) window_->SetCursor(distance);
    });
}

void Track3dHookup::Refresh() {
    window_->SetModel(profile_.CurrentModel());
    stale_ = false;
}

void Track3dHookup::Open() {
    if (window_ == nullptr) {
        window_ = new Track3dWindow(&main_);
        connect(window_, &Track3dWindow::CursorMoved, &profile_, &RideProfileHookup::SetCursor);
    }
    if (stale_) Refresh();
    window_->show();
    window_->raise();
}

void Track3dHookup::Toggle() {
    if (window_ != nullptr && window_->isVisible()) {
        window_->close();
    } else {
        Open();
    }
}

Track3dHookup* AttachTrack3d(QWidget& mainWindow, RideProfileHookup& profile) {
    return new Track3dHookup(mainWindow, profile);
}

}  // namespace cvqrn::ui

// The "Track in 3D" window: the track drawn as rails and ties coloured by
// the felt forces, the drawn and the rebuilt heart paths as lines, the
// profile's cursor as a marker, an orbit camera and the rider's view. The
// geometry comes from scene/ (Qt-free); this file uploads and draws it with
// OpenGL in a QOpenGLWidget, which runs on Mesa's software renderer under Xvfb.
#pragma once

#include <QElapsedTimer>
#include <QLabel>
#include <QOpenGLBuffer>
#include <QOpenGLFunctions>
#include <QOpenGLShaderProgram>
#include <QOpenGLWidget>
#include <QWidget>
#include <optional>

#include "scene/camera.h"
#include "scene/detail.h"
#include "scene/track_scene.h"
#include "frontend/profile_model.h"

class QComboBox;
class QPushButton;
class QTimer;

namespace cvqrn::ui {

inline constexpr const char* kTrack3dWindowTitle = "Track in 3D";

// The drawing: one scene, an orbit camera or the rider's seat, a cursor marker.
class TrackGlView : public QOpenGLWidget, protected QOpenGLFunctions {
    Q_OBJECT
  public:
    explicit TrackGlView(QWidget* parent);
    ~TrackGlView() override;

    // Shows `scene` (kept by the caller while shown); the orbit resets when
    // `resetCamera` is true.
    void SetScene(const scene::TrackScene* scene, bool resetCamera);
    // The marker at `distance` along the path, or none.
    void SetCursor(std::optional<double> distance);
    // The rider's seat at the cursor (true) or the orbit (false).
    void SetRide(bool ride);
    bool Riding() const { return ride_; }
    void ResetCamera();

    // Where a point of the track lands in the widget, in pixels (none behind the camera).
    std::optional<QPointF> ToPixel(const scene::Vecd& point) const;
    // Draws one frame into the widget's framebuffer and waits for it: milliseconds.
    double TimeOneFrame();

  signals:
    void Hovered(std::optional<size_t> sample);
    void Clicked(size_t sample);

  protected:
    void initializeGL() override;
    void resizeGL(int width, int height) override;
    void paintGL() override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void leaveEvent(QEvent* event) override;

  private:
    struct GpuMesh {
        QOpenGLBuffer positions{QOpenGLBuffer::VertexBuffer};
        QOpenGLBuffer normals{QOpenGLBuffer::VertexBuffer};
        QOpenGLBuffer colours{QOpenGLBuffer::VertexBuffer};
        QOpenGLBuffer indices{QOpenGLBuffer::IndexBuffer};
        int count = 0;  // indices, or points of a line
    };
    void Upload();
    void UploadMesh(GpuMesh& gpu, const scene::TriangleMesh& mesh);
    void UploadLine(GpuMesh& gpu, const scene::LineStrip& line);
    void DrawMesh(GpuMesh& gpu);
    void BindVertices(GpuMesh& gpu);
    // The track's chunks in view, each at the detail its distance asks for.
    void DrawTrack(const QMatrix4x4& viewProjection, const scene::CameraLook& look);
    void DrawLine(GpuMesh& gpu, const scene::Rgb& colour);
    void Release(GpuMesh& gpu);
    QMatrix4x4 ViewProjection() const;
    double Aspect() const;  // width over height
    double FocalPixels() const;
    scene::CameraLook CurrentLook() const;
    std::optional<size_t> PickAt(const QPointF& pixel) const;

    const scene::TrackScene* scene_ = nullptr;
    bool dirty_ = false;
    bool glReady_ = false;
    scene::OrbitCamera camera_;
    bool untouched_ = true;  // the orbit is as the last reset left it
    bool ride_ = false;
    std::optional<double> cursor_;
    QOpenGLShaderProgram program_;
    GpuMesh track_, drawn_, rebuilt_, valley_, marker_;
    QOpenGLBuffer railLines_{QOpenGLBuffer::IndexBuffer};  // the track's far level, into track_
    scene::Rgb drawnColour_, rebuiltColour_;
    QPointF pressAt_;
    QPointF lastAt_;
    Qt::MouseButton dragging_ = Qt::NoButton;
    bool moved_ = false;
};

// The colour scale of the chosen force in g, the exceedance and no-force swatches.
class ForceLegend : public QWidget {
    Q_OBJECT
  public:
    explicit ForceLegend(QWidget* parent);
    void SetChannel(scene::ForceChannel channel);
    QSize sizeHint() const override;

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    scene::ForceChannel channel_ = scene::ForceChannel::Vertical;
};

class Track3dWindow : public QWidget {
    Q_OBJECT
  public:
    explicit Track3dWindow(QWidget* parent = nullptr);

    // Before a run the loaded track is the track; after one the rebuilt rail,
    // with both heart paths as lines.
    void SetModel(const ProfileModel& model);
    // The profile's cursor at `distance` along the path of the track drawn.
    void SetCursor(double distance);
    std::optional<double> Cursor() const { return cursor_; }
    void SetChannel(scene::ForceChannel channel);

    TrackGlView* View() const { return view_; }
    const scene::TrackScene& Scene() const { return scene_; }
    QString ReadOutText() const { return readOut_->text(); }
    void SetPlaying(bool playing);
    bool Playing() const;

  signals:
    // The user moved the cursor here (a click on the track, or the ride playing).
    void CursorMoved(double distance);

  private:
    void Rebuild(bool resetCamera);
    void Step();

    std::optional<ProfileModel> model_;
    scene::TrackScene scene_;
    scene::ForceChannel channel_ = scene::ForceChannel::Vertical;
    std::optional<double> cursor_;
    TrackGlView* view_ = nullptr;
    ForceLegend* legend_ = nullptr;
    QLabel* readOut_ = nullptr;
    QComboBox* colours_ = nullptr;
    QPushButton* ride_ = nullptr;
    QPushButton* play_ = nullptr;
    QTimer* player_ = nullptr;
    QElapsedTimer clock_;
};

class RideProfileHookup;

// Ties the 3D window to a main window and its ride profile: Ctrl+3 on the
// panel opens and closes it, the profile window's button opens it, it
// follows every load and run, and the two cursors follow each other.
class Track3dHookup : public QObject {
    Q_OBJECT
  public:
    Track3dHookup(QWidget& mainWindow, RideProfileHookup& profile);
    void Open();
    void Toggle();
    Track3dWindow* Window() const { return window_; }

  private:
    void Refresh();

    QWidget& main_;
    RideProfileHookup& profile_;
    bool stale_ = true;
    Track3dWindow* window_ = nullptr;  // made on first use, a child of the main window
};

Track3dHookup* AttachTrack3d(QWidget& mainWindow, RideProfileHookup& profile);

}  // namespace cvqrn::ui

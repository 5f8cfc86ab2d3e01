#include "ui/main_window.h"

#include <QFontDatabase>
#include <QFontInfo>
#include <QLocale>
#include <QShortcut>

#include "ui/profile_window.h"

namespace cvqrn::ui {

namespace {

constexpr QColor kFieldBackground(64, 64, 64);
constexpr QColor kFieldText(192, 255, 192);

QRect PixelRect(int left, int top, int width, int height) {
    return TwipsToPixels(left, top, width, height).toRect();
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

}  // namespace

MainWindow::MainWindow(TrackOperations& operations, FileChooser* chooser,
                       MessageBoxPresenter* boxes) {
    setWindowTitle(QString::fromLatin1(kWindowTitle));
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

    CreateControls();
    // The ride profile: its control on the Track Data plate, Ctrl+G, its window.
    AttachRideProfile(*this, *logic_, [this](Field field) { return FieldText(field); });

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

    logic_->Start();
}

MainWindow::~MainWindow() = default;

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
        field->setGeometry(PixelRect(spec.left, spec.top, spec.width, spec.height));
        field->setText(QString::fromLatin1(spec.initialText));
        field->setToolTip(QString::fromLatin1(spec.toolTip));
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
        auto* light = new StatusLight(this, kLightLeft[i], kLightTop, kLightDiameter);
        light->setObjectName(QStringLiteral("statuslight%1").arg(i + 1));
        light->hide();
        lights_[static_cast<size_t>(i)] = light;
    }

    connect(AddHotSpot("btnSave", 4140, 4620, 1335, 255), &HotSpot::clicked, this,
            &MainWindow::SaveClicked);
    connect(AddHotSpot("btnMod", 2340, 4620, 1335, 255), &HotSpot::clicked, this,
            &MainWindow::HeartlineClicked);
    connect(AddHotSpot("btnLoad", 540, 4620, 1335, 255), &HotSpot::clicked, this,
            &MainWindow::LoadClicked);
    connect(AddHotSpot("minimizeme", 5280, 180, 495, 315), &HotSpot::clicked, this,
            &ShapedWindow::MinimizeClicked);
    connect(AddHotSpot("closeme", 5820, 180, 435, 315), &HotSpot::clicked, this,
            &ShapedWindow::CloseClicked);

    message_ = new MessageLine(this);
    message_->setObjectName(QStringLiteral("Message_Label"));
    message_->setGeometry(PixelRect(780, 4200, 1635, 315));
    message_->setAlignment(Qt::AlignCenter);
    message_->setFont(MessageFont());
    ApplyFieldColours(message_);
    message_->setAutoFillBackground(false);

    progress_ = new ProgressTube(this);
    progress_->setObjectName(QStringLiteral("Progressbar"));
    progress_->hide();

    fields_[static_cast<size_t>(Field::Segments)]->setFocus();
}

HotSpot* MainWindow::AddHotSpot(const char* name, int left, int top, int width, int height) {
    auto* spot = new HotSpot(this);
    spot->setObjectName(QString::fromLatin1(name));
    spot->setGeometry(PixelRect(left, top, width, height));
    return spot;
}

void MainWindow::LoadClicked() {
    logic_->LoadClicked();
    RefreshRideProfile(*this, false);
}

void MainWindow::HeartlineClicked() {
    logic_->HeartlineClicked();
    RefreshRideProfile(*this, true);
}

void MainWindow::SaveClicked() {
    logic_->SaveClicked();
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
    // The run that follows holds the event loop: draw the bar now.
    if (visible) progress_->repaint();
}

void MainWindow::SetProgressShape(const BarShape& shape) {
    progress_->SetShape(shape);
}

void MainWindow::SetMessageText(const std::string& text) {
    message_->setText(QString::fromStdString(text));
}

void MainWindow::ShowMessageBox(const MessageBoxRequest& request) {
    boxes_->Show(this, request);
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

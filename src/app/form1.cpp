#include "app/form1.h"

#include <QGroupBox>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLineEdit>
#include <QMouseEvent>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QSlider>
#include <QTreeWidget>

#include "app/caption_bar.h"
#include "app/control_options.h"
#include "app/progress_bar_sink.h"
#include "app/twips.h"
#include "base/shutdown.h"
#include "base/trap.h"
#include "convert/batch_run.h"
#include "filelist/add_folder.h"
#include "filelist/add_image_files.h"
#include "filelist/file_list.h"
#include "filelist/shell_drops.h"
#include "options/output_options.h"
#include "samples/samples.h"

namespace {

QFont ArialBold(qreal points) {
  QFont font;
  // Where Arial is missing, a metric-compatible face keeps the layout.
  font.setFamilies({"Arial", "Liberation Sans", "Arimo", "DejaVu Sans"});
  font.setPointSizeF(points);
  font.setBold(true);
  return font;
}

template <typename Widget>
Widget* Place(QWidget* parent, const char* name, int left, int top, int width,
              int height) {
  auto* widget = new Widget(parent);
  widget->setObjectName(name);
  widget->setGeometry(TwipsRect(left, top, width, height));
  return widget;
}

QPushButton* Button(QWidget* parent, const char* name, const QString& text,
                    int left, int top, int width, int height) {
  auto* button = Place<QPushButton>(parent, name, left, top, width, height);
  button->setText(text);
  button->setFont(ArialBold(11.25));
  return button;
}

}  // namespace

Form1::Form1(Form1Environment environment)
    : env_(std::move(environment)), pointer_(this) {
  setObjectName("Form1");
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                 Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
  setFixedSize(TwipsToPixels(8040), TwipsToPixels(7665));
  setFont(ArialBold(9));
  QPalette white = palette();
  white.setColor(QPalette::Window, Qt::white);
  setPalette(white);
  setAutoFillBackground(true);
  CreateControls();
  SetTabOrder();
  WireHandlers();
}

Form1::~Form1() = default;

void Form1::CreateControls() {
  ListView1 = Place<QTreeWidget>(this, "ListView1", 120, 120, 7800, 2535);
  ListView1->setRootIsDecorated(false);
  ListView1->setToolTip(
      "Drag and drop files here. Double-click item to remove it. Move | line "
      "to right and out of window to reveal full names.");
  ListView1->header()->setStretchLastSection(false);

  PushButton1 =
      Button(this, "PushButton1", "Add Image File(s)", 120, 2750, 3840, 405);
  PushButton3 = Button(this, "PushButton3", "Add All File(s) In Folder", 4080,
                       2750, 3840, 405);
  PushButton4 = Button(this, "PushButton4", "Clear List", 120, 3260, 3840, 405);
  PushButton5 = Button(this, "PushButton5", "Load Sample/Example Files", 4080,
                       3260, 3840, 405);

  Frame1 = Place<QGroupBox>(this, "Frame1", 120, 3720, 7800, 885);
  Frame1->setTitle("JPG Image Quality");
  Slider1 = Place<QSlider>(Frame1, "Slider1", 120, 240, 7560, 540);
  Slider1->setOrientation(Qt::Horizontal);
  Slider1->setRange(1, 100);
  Slider1->setSingleStep(1);
  Slider1->setPageStep(5);
  Slider1->setTickPosition(QSlider::TicksBelow);
  Slider1->setTickInterval(1);
  Slider1->setValue(OutputOptions::kDefaultQuality);

  Frame5 = Place<QGroupBox>(this, "Frame5", 120, 4670, 7800, 1815);
  Frame5->setTitle("Save Option");
  Option1 = Place<QRadioButton>(Frame5, "Option1", 240, 300, 3615, 255);
  Option1->setText("Save results to this folder:");
  Option1->setChecked(true);
  Option2 = Place<QRadioButton>(Frame5, "Option2", 240, 1410, 3615, 255);
  Option2->setText("Save results in folder of original file");
  Frame2 = Place<QGroupBox>(Frame5, "Frame2", 480, 510, 6840, 810);
  Text2 = Place<QLineEdit>(Frame2, "Text2", 240, 300, 5670, 345);
  PushButton6 = Button(Frame2, "PushButton6", "...", 6000, 300, 600, 345);

  PushButton2 = Button(this, "PushButton2", "Start Converting To JPG", 120,
                       6620, 7800, 405);
  ProgressBar1 = Place<CaptionBar>(this, "ProgressBar1", 120, 7140, 7800, 405);
  ProgressBar1->setRange(0, 100);
  ProgressBar1->setValue(0);
  ProgressBar1->setTextVisible(true);
  ProgressBar1->setAlignment(Qt::AlignCenter);
  ProgressBar1->setFormat("Progress Bar");
}

void Form1::SetTabOrder() {
  const QList<QWidget*> order = {
      ListView1,   ProgressBar1, PushButton1, PushButton3, PushButton2,
      PushButton4, PushButton5,  Frame1,      Slider1,     Frame5,
      Option1,     Option2,      Frame2,      Text2,       PushButton6};
  for (int i = 1; i < order.size(); ++i) setTabOrder(order[i - 1], order[i]);
}

void Form1::WireHandlers() {
  output_options_ = std::make_unique<OutputOptions>(
      OutputOptions::Controls{Frame1, Slider1, Option1, Option2, Frame2, Text2},
      env_.store, env_.dialogs);
  connect(Slider1, &QSlider::valueChanged, this,
          [this] { output_options_->Slider1_Change(); });
  connect(Option1, &QRadioButton::clicked, this,
          [this] { output_options_->Option1_Click(); });
  connect(Option2, &QRadioButton::clicked, this,
          [this] { output_options_->Option2_Click(); });
  connect(Text2, &QLineEdit::textChanged, this,
          [this] { output_options_->Text2_Change(); });
  connect(PushButton6, &QPushButton::clicked, this,
          [this] { output_options_->PushButton6_Click(); });

  file_list_ = std::make_unique<FileList>(
      ListView1, pointer_, env_.dialogs, env_.program_folder,
      [this] { return batch_run_ && batch_run_->Running(); });
  shell_drops_ =
      std::make_unique<ShellDrops>(ListView1, *file_list_, env_.dialogs);
  run_options_ =
      std::make_unique<ControlOptions>(Slider1, Option1, Option2, Text2);
  progress_ = std::make_unique<ProgressBarSink>(ProgressBar1);
  batch_run_ = std::make_unique<BatchRun>(
      *run_options_, *progress_, *file_list_, pointer_, env_.dialogs,
      application_title_, env_.program_folder);
  connect(PushButton2, &QPushButton::clicked, this,
          [this] { PushButton2_Click(); });
  connect(PushButton1, &QPushButton::clicked, this,
          [this] { PushButton1_Click(); });
  connect(PushButton4, &QPushButton::clicked, this,
          [this] { PushButton4_Click(); });
  connect(PushButton3, &QPushButton::clicked, this,
          [this] { PushButton3_Click(); });
  connect(PushButton5, &QPushButton::clicked, this,
          [this] { PushButton5_Click(); });

  setMouseTracking(true);
  for (QPushButton* button : {PushButton1, PushButton2, PushButton3,
                              PushButton4, PushButton5, PushButton6}) {
    Hovers(button, WindowPointer::State::kHand);
  }
  for (QWidget* surface : std::initializer_list<QWidget*>{
           Frame1, Frame2, Frame5, Option1, Option2, Text2}) {
    Hovers(surface, WindowPointer::State::kDefault);
  }
}

void Form1::Hovers(QWidget* surface, WindowPointer::State state) {
  surface->setMouseTracking(true);
  surface->installEventFilter(this);
  hover_states_.insert(surface, state);
}

// A movement that a child ignored travels on to its parents; only the
// surface the pointer is really over decides.
static bool IsOwnMove(QWidget* surface, QMouseEvent* move) {
  return surface->childAt(move->position().toPoint()) == nullptr;
}

bool Form1::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::MouseMove) {
    const auto state = hover_states_.find(watched);
    if (state != hover_states_.end() &&
        IsOwnMove(static_cast<QWidget*>(watched),
                  static_cast<QMouseEvent*>(event))) {
      pointer_.Hover(*state);
    }
  }
  return QWidget::eventFilter(watched, event);
}

void Form1::mouseMoveEvent(QMouseEvent* event) {
  if (IsOwnMove(this, event)) pointer_.Hover(WindowPointer::State::kDefault);
  QWidget::mouseMoveEvent(event);
}

void Form1::PushButton1_Click() {
  AddImageFiles(env_.dialogs, *file_list_, application_title_);
}

void Form1::PushButton2_Click() { batch_run_->PushButton2_Click(); }

void Form1::PushButton3_Click() {
  AddAllFilesInFolder(
      env_.dialogs, [this](const QString& path) { file_list_->Append(path); },
      pointer_, env_.store);
}

void Form1::PushButton4_Click() { file_list_->PushButton4_Click(); }

void Form1::PushButton5_Click() {
  Trap(env_.dialogs, ProcedureId("PushButton5_Click")).Line(100, [&] {
    LoadSampleFiles(*file_list_, env_.program_folder, env_.store, env_.dialogs,
                    application_title_);
  });
}

void Form1::closeEvent(QCloseEvent*) { EndProcess(); }

void Form1::ShowCentred() {
  const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
  move(screen.center() - rect().center());
  show();
  ListView1->setFocus();
}

#include "ui/framework/BusyIndicator.h"

#include <QFrame>
#include <QLabel>
#include <QProgressBar>
#include <QVBoxLayout>
#include <QWidget>
#include <algorithm>
#include <utility>

#include "ui/framework/QtText.h"

namespace {

constexpr auto kRefreshInterval = std::chrono::milliseconds(100);

QString GeneralText() {
    return QStringLiteral("Operazione in corso...");
}

}  // namespace

BusyIndicator::BusyIndicator(QWidget* window, std::chrono::milliseconds showAfter,
                             AwaitedText awaitedText)
    : m_window(window), m_showAfter(showAfter), m_awaitedText(std::move(awaitedText)) {
    if (window != nullptr) {
        m_panel = new QFrame(window);
        m_panel->setObjectName(QStringLiteral("busyIndicator"));
        m_panel->setFrameStyle(QFrame::StyledPanel | QFrame::Raised);
        m_panel->setAutoFillBackground(true);
        auto* layout = new QVBoxLayout(m_panel);
        m_text = new QLabel(GeneralText(), m_panel);
        layout->addWidget(m_text);
        auto* bar = new QProgressBar(m_panel);
        bar->setRange(0, 0);
        bar->setTextVisible(false);
        layout->addWidget(bar);
        m_panel->hide();
    }
    m_elapsed.start();
    QObject::connect(&m_refresh, &QTimer::timeout, [this] { Update(); });
    m_refresh.start(kRefreshInterval);
    Update();
}

BusyIndicator::~BusyIndicator() {
    delete m_panel.data();
}

void BusyIndicator::Update() {
    if (!m_panel || !m_window) {
        return;
    }
    const std::chrono::milliseconds elapsed(m_elapsed.elapsed());
    if (elapsed < m_showAfter) {
        return;
    }
    const QString text = Text(elapsed);
    if (text != m_text->text() || !m_panel->isVisible()) {
        m_text->setText(text);
        Place();
        m_panel->raise();
        m_panel->show();
    }
}

QString BusyIndicator::Text(std::chrono::milliseconds elapsed) const {
    const std::string awaited = m_awaitedText ? m_awaitedText(elapsed) : std::string();
    return awaited.empty() ? GeneralText() : ToQ(awaited);
}

void BusyIndicator::Place() {
    // Centred across the window, in its lower part, wide enough for the text.
    const int width = std::max(m_window->width() * 3 / 5, m_panel->sizeHint().width());
    const QSize size(std::min(width, m_window->width()), m_panel->sizeHint().height());
    m_panel->setGeometry(QRect(QPoint((m_window->width() - size.width()) / 2,
                                      (m_window->height() - size.height()) * 3 / 4),
                               size));
}

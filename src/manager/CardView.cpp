#include "manager/CardView.h"

#include "manager/SmartCardManager.h"

CardView CSmartCardManager::View() const {
    CardView view;
    view.readerName = m_readerName;
    view.atr = m_atr;
    view.source = m_driverSource;
    view.catalogueEntry = m_cardEntry;
    view.cardDrivers = m_cardDrivers;
    view.drivers = m_drivers;
    view.driverInUse = m_driverInUse;
    view.driverPath = m_driverPath;
    view.driverVersion = m_driverVersion;
    view.token = GetTokenDetails();
    view.certificates = m_certificates;
    return view;
}

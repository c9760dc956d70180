#include "manager/CardView.h"

#include "manager/SmartCardManager.h"

CardView CSmartCardManager::View() const {
    CardView view;
    view.readerName = m_readerName;
    view.atr = m_atr;
    // The card check looks its ATR up in the catalogue as soon as it has read it: without an
    // entry, the drivers came from the system's modules.
    if (m_cardEntry) {
        view.source = DriverSource::Catalogue;
    } else if (!m_atr.empty()) {
        view.source = DriverSource::System;
    }
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

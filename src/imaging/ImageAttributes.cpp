#include "ImageImpl.h"
#include "imaging/ImagingError.h"

#include <dcmtk/dcmdata/dcdeftag.h>

namespace imaging {

namespace {

QString textOf(Image::Impl& d, const DcmTagKey& key) {
    OFString value;
    d.dataset().findAndGetOFStringArray(key, value);
    return detail::fromDicomText(value);
}

} // namespace

QString Image::imageNumber() const {
    return textOf(*d, DCM_PatientID);
}
void Image::setImageNumber(const QString& value) {
    detail::putText(d->dataset(), DCM_PatientID, value);
}
QString Image::patientName() const {
    return textOf(*d, DCM_PatientName);
}
void Image::setPatientName(const QString& value) {
    detail::putText(d->dataset(), DCM_PatientName, value);
}
QString Image::birthDate() const {
    return textOf(*d, DCM_PatientBirthDate);
}
void Image::setBirthDate(const QString& value) {
    detail::putText(d->dataset(), DCM_PatientBirthDate, value);
}
QString Image::sex() const {
    return textOf(*d, DCM_PatientSex);
}
void Image::setSex(const QString& value) {
    detail::putText(d->dataset(), DCM_PatientSex, value);
}
QString Image::studyUid() const {
    return textOf(*d, DCM_StudyInstanceUID);
}
void Image::setStudyUid(const QString& value) {
    detail::putText(d->dataset(), DCM_StudyInstanceUID, value);
}
QString Image::seriesUid() const {
    return textOf(*d, DCM_SeriesInstanceUID);
}
void Image::setSeriesUid(const QString& value) {
    detail::putText(d->dataset(), DCM_SeriesInstanceUID, value);
}
QString Image::imageUid() const {
    return textOf(*d, DCM_SOPInstanceUID);
}
void Image::setImageUid(const QString& value) {
    detail::putText(d->dataset(), DCM_SOPInstanceUID, value);
}
QString Image::sourceImageUid() const {
    DcmItem* source = nullptr;
    OFString value;
    if (d->dataset().findAndGetSequenceItem(DCM_SourceImageSequence, source, 0).good())
        source->findAndGetOFStringArray(DCM_ReferencedSOPInstanceUID, value);
    return detail::fromDicomText(value);
}

Attribute Image::attribute(quint16 group, quint16 element) const {
    const DcmTagKey key(group, element);
    DcmItem& holder = group == 0x0002 ? static_cast<DcmItem&>(*d->file.getMetaInfo())
                                      : static_cast<DcmItem&>(d->dataset());
    DcmElement* found = nullptr;
    if (holder.findAndGetElement(key, found).bad() || found == nullptr) {
        return {};
    }
    const DcmEVR vr = found->ident();
    if (vr == EVR_SQ || vr == EVR_pixelSQ || key == DCM_PixelData) {
        return Attribute(true, {});
    }
    OFString raw;
    if (found->getLength() == 0 || found->getOFStringArray(raw).bad()) {
        return Attribute(true, {});
    }
    const QString text = detail::fromDicomText(raw);
    // Text VRs hold a single value in which "\" is an ordinary character.
    if (vr == EVR_LT || vr == EVR_ST || vr == EVR_UT || vr == EVR_UR) {
        return Attribute(true, {text});
    }
    return Attribute(true, text.split(QLatin1Char('\\')));
}

void Image::addAttribute(quint16 group, quint16 element, const QString& value) {
    DcmTag tag(group, element);
    if (group == 0x0002 || group == 0xFFFE || tag.getEVR() == EVR_SQ || tag == DCM_PixelData) {
        throw ImagingError(
            QStringLiteral("Das Attribut (%1,%2) kann nicht als Text gesetzt werden.")
                .arg(group, 4, 16, QLatin1Char('0'))
                .arg(element, 4, 16, QLatin1Char('0')));
    }
    if (tag.getEVR() == EVR_UNKNOWN || tag.getEVR() == EVR_UN) {
        tag.setVR(DcmVR(EVR_LO));
    }
    detail::putText(d->dataset(), tag, value);
    if (group == 0x0028) {
        d->invalidateDisplay();
    }
}

int Image::width() const {
    Uint16 columns = 0;
    d->dataset().findAndGetUint16(DCM_Columns, columns);
    return columns;
}

int Image::height() const {
    Uint16 rows = 0;
    d->dataset().findAndGetUint16(DCM_Rows, rows);
    return rows;
}

} // namespace imaging

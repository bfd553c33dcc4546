#include "smartspeed.h"

#include "clipdownload.h"
#include "smartfilter.h"
#include "speechanalysis.h"

#include <gst/gst.h>

SmartSpeed::SmartSpeed(QObject *parent)
    : QObject(parent)
{
}

// The analysis stops before the filter goes.
SmartSpeed::~SmartSpeed()
{
    m_analysis.reset();
    if (m_filter)
        gst_object_unref(m_filter);
}

GstElement *SmartSpeed::audioFilter(GstElement *tempo)
{
    GstElement *convert = gst_element_factory_make("audioconvert", nullptr);
    if (!convert || !tempo) {
        if (convert)
            gst_object_unref(gst_object_ref_sink(convert));
        return tempo;
    }
    GstElement *filter = SmartFilter::create();
    GstElement *bin = gst_bin_new("smartspeed");
    gst_bin_add_many(GST_BIN(bin), convert, filter, tempo, nullptr);
    gst_element_link_many(convert, filter, tempo, nullptr);
    GstPad *sink = gst_element_get_static_pad(convert, "sink");
    GstPad *src = gst_element_get_static_pad(tempo, "src");
    gst_element_add_pad(bin, gst_ghost_pad_new("sink", sink));
    gst_element_add_pad(bin, gst_ghost_pad_new("src", src));
    gst_object_unref(sink);
    gst_object_unref(src);
    m_filter = GST_ELEMENT(gst_object_ref(filter));
    SmartFilter::setSkipSilence(m_filter, m_skip);
    SmartFilter::setBoostVoice(m_filter, m_boost);
    return bin;
}

void SmartSpeed::setClip(ClipDownload *clip)
{
    m_analysis.reset();
    m_state = clip ? std::make_shared<SpeechState>() : nullptr;
    if (m_filter)
        SmartFilter::setState(m_filter, m_state);
    m_clip = clip;
    if (m_savedInClipUs != 0) {
        m_savedInClipUs = 0;
        emit savedChanged();
    }
    // Once the player has started: its first sound comes first.
    QMetaObject::invokeMethod(this, &SmartSpeed::analyse, Qt::QueuedConnection);
}

void SmartSpeed::setSkipSilence(bool on)
{
    if (on == m_skip)
        return;
    m_skip = on;
    if (m_filter)
        SmartFilter::setSkipSilence(m_filter, on);
    analyse();
    emit switched();
}

void SmartSpeed::setBoostVoice(bool on)
{
    if (on == m_boost)
        return;
    m_boost = on;
    if (m_filter)
        SmartFilter::setBoostVoice(m_filter, on);
    analyse();
    emit switched();
}

// From the clip's start, whenever a switch first needs it.
void SmartSpeed::analyse()
{
    if (!m_analysis && m_clip && m_state && (m_skip || m_boost))
        m_analysis = std::make_unique<SpeechAnalysis>(m_clip->memory(), m_state);
}

bool SmartSpeed::isAnalysed() const
{
    return m_state && m_state->isFinished();
}

qint64 SmartSpeed::clipMs(qint64 playedMs) const
{
    return m_filter ? SmartFilter::clipUs(m_filter, playedMs * 1000) / 1000 : playedMs;
}

void SmartSpeed::played(qint64 playedMs)
{
    const qint64 saved = m_filter ? SmartFilter::takeSavedUs(m_filter, playedMs * 1000) : 0;
    if (saved <= 0)
        return;
    m_savedInClipUs += saved;
    m_savedUs += saved;
    emit savedChanged();
}

#ifndef SINKPROBE_H
#define SINKPROBE_H

#include "media/playback.h"

#include <gst/gst.h>

// Calls `handoff` (GstElement *, GstBuffer *, GstPad *, gpointer data) for
// every buffer that the fakesink named "probe" in the player's sink plays.
inline bool connectProbe(Playback *playback, GCallback handoff, gpointer data)
{
    GstElement *bin = playback->audioSink();
    GstElement *probe = bin && GST_IS_BIN(bin) ? gst_bin_get_by_name(GST_BIN(bin), "probe") : nullptr;
    if (!probe)
        return false;
    g_signal_connect(probe, "handoff", handoff, data);
    gst_object_unref(probe);
    return true;
}

#endif // SINKPROBE_H

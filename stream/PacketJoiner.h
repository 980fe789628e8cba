#pragma once

typedef struct _GstElement GstElement;

// mpegtsmux without alignment hands over each frame's packets as soon as the frame is in, but as
// a list of 188-byte buffers, which srtsink would send one datagram each. Joined, srtsink cuts
// them into full 1316-byte datagrams (7 packets) with only the frame's tail shorter. (With
// alignment=7 the muxer itself held a frame's last packets back until the next frame came.)
// Joins each list that leaves `muxer` from now on into one buffer, for as long as it lives.
void joinPacketsLeaving(GstElement* muxer);

// keomux: KEO payloads and raw sound in, a KEO movie out, written by the
// project's movie writer. From clean streams it writes the bytes `keo
// export` writes for the same frames and sound (but 32-bit sound, kept
// whole here): every frame, then the sound in keo export's blocks.
//
//   video, video_%u  request pad (one): video/x-keo from keoenc, or what
//               qtdemux gives for a KEO movie's frames. Every frame goes to
//               its time on the movie's rate (gst/KEOMuxFrames.h): the last
//               frame is repeated where none came (a frame dropped, a GAP
//               event), the later of two for one frame of the movie is
//               kept, and one warning at the end counts both. The rate is
//               the framerate property's, else the caps', stored exactly,
//               else the frames' own from their timestamps as a whole; a
//               stream that fits no constant rate then is refused, in words
//               that name the property. A size or rate change after the
//               first frame is refused when it is negotiated, and a frame
//               that is not of the movie's size is an error: the movie is
//               never finished with frames its header does not describe.
//   audio_%u    request pad (one; a second is refused with a warning):
//               interleaved S16LE, S24LE, S32LE (stored as they are) or
//               F32LE (stored as 24-bit integers, rounded, clipped at full
//               scale), at the rates a movie holds. Placed by its
//               timestamps (gst/KEOMuxSound.h): a gap becomes silence, an
//               overlap is dropped, each over 40 ms told in a warning; at
//               the end cut or padded to the pictures' length.
//   src         video/quicktime, into a downstream that seeks (filesink):
//               the header is written at the end and the media data's size
//               patched at the start. One that cannot seek is an error
//               before the first byte.
//
// Properties: framerate (a fraction; 0/1, the default, takes the stream's),
// reserved-max-duration and reserved-moov-update-period (ns, as qtmux has
// them): room for the header of a movie that long at the start of the file,
// and the header rewritten there that often with what has been written, the
// sound written between the frames as it comes; a recording cut off at any
// moment then opens with everything up to the last update. Past the room,
// the header goes to the end, with a warning.
//
// The first frame's time is the movie's time 0: sound that starts later is
// preceded by silence, sound that starts earlier loses its lead. EOS on
// every pad finishes the movie. An error, or a stop before EOS, leaves the
// output without its header (or with its last update), and a warning says
// so.
#pragma once

#include <gst/base/gstaggregator.h>

G_BEGIN_DECLS

#define GST_TYPE_KEO_MUX (gst_keo_mux_get_type())
G_DECLARE_FINAL_TYPE(GstKeoMux, gst_keo_mux, GST, KEO_MUX, GstAggregator)

GST_ELEMENT_REGISTER_DECLARE(keomux);

G_END_DECLS

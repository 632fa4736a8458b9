// Decoding AV1 (the pictures of AVIF files) through dav1d without its messages on standard error.
#ifndef AV1_DECODER_H
#define AV1_DECODER_H

// Makes libheif decode AV1 through a decoder of this library's own, which drives dav1d as
// libheif's does but with dav1d's logger off: dav1d otherwise prints a line on standard error
// for each fault it meets in damaged data ("Error parsing OBU data"), beside the program's own
// message and whatever the add-ons print there. Called before each use of libheif's decoding;
// all but the first call cost nothing.
void UseQuietAv1Decoder();

#endif // AV1_DECODER_H

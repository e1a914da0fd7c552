/* A library named like libavformat that exports only its first entry point: the loader must
   refuse it and name the first export it lacks. */
int av_codec_get_id(void) { return 0; }

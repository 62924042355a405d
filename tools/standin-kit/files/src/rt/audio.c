/* Stand-in runtime source: sound output. */
void audio_start(void) {}

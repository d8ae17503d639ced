// Media core on FFmpeg libraries.

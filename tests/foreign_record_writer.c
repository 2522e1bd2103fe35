/* foreign_record_writer: a simulation that makes and writes the terrain
 * record the ordinary POSIX way (shm_open, ftruncate, mmap) and knows
 * nothing of the record's locks, version text or user count: the writer the
 * shared-memory tests must never split from the record everyone else uses.
 *
 *   foreign_record_writer NAME
 *
 * Writes latitude 47.0, longitude 11.0 and the running state, then counts
 * up the heading every 2 ms (so a reader can tell it writes into the object
 * the reader sees) until it is killed, or for 60 s at most. Exit 0 after
 * the 60 s, 1 when the record cannot be made.
 *
 * Threading: one thread. */
#define _POSIX_C_SOURCE 200809L
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/mman.h>
#include <time.h>
#include <unistd.h>

/* The record's size and the simulation's fields (shm/TrnInterfaceShm.h). */
#define RECORD_SIZE 692672
#define LATITUDE_AT 692624
#define LONGITUDE_AT 692632
#define HEADING_AT 692640
#define STATE_AT 692648

static void PutDouble(unsigned char* record, long at, double value) {
  volatile double* field = (volatile double*)(void*)(record + at);
  *field = value;
}

int main(int argc, char** argv) {
  char path[64];
  int fd;
  unsigned char* record;
  long step;
  const struct timespec pause = {0, 2000000L};
  if (argc != 2 || strlen(argv[1]) > 42) {
    fprintf(stderr, "usage: foreign_record_writer NAME\n");
    return 1;
  }
  snprintf(path, sizeof path, "/%s", argv[1]);
  fd = shm_open(path, O_RDWR | O_CREAT, 0600);
  if (fd < 0 || ftruncate(fd, RECORD_SIZE) != 0) {
    perror("foreign_record_writer: shm_open/ftruncate");
    return 1;
  }
  record = (unsigned char*)mmap(NULL, RECORD_SIZE, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  if (record == MAP_FAILED) {
    perror("foreign_record_writer: mmap");
    return 1;
  }
  close(fd);
  PutDouble(record, LATITUDE_AT, 47.0);
  PutDouble(record, LONGITUDE_AT, 11.0);
  *(volatile int*)(void*)(record + STATE_AT) = 1;
  for (step = 0; step < 30000; ++step) {
    PutDouble(record, HEADING_AT, (double)step);
    nanosleep(&pause, NULL);
  }
  return 0;
}

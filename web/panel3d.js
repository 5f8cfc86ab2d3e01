// The 3D panel beside the plots: its button (and Ctrl+3) opens and closes
// it; the first opening loads view3d.js, three.js and the panel's drawing
// bundled together, so a page that never opens the panel never loads them.
// The scene comes from the worker's engine after every load and run, and
// the panel's cursor and the plots' cursor follow each other.
/* global CvqrnView3d, CvqrnPlots */
'use strict';

const CvqrnPanel3d = (() => {
  let engine = null;
  let send = null;
  let open = false;
  let loading = null;
  let hasTrack = false;

  function load() {
    if (!loading) {
      loading = new Promise((resolve, reject) => {
        const script = document.createElement('script');
        script.src = 'view3d.js';
        script.onload = resolve;
        script.onerror = () => reject(new Error('view3d.js could not be loaded'));
        document.head.append(script);
      });
    }
    return loading;
  }

  function request() {
    if (open && hasTrack && window.CvqrnView3d) send('scene', { channel: CvqrnView3d.channel() });
  }

  async function setOpen(on) {
    open = on;
    const panel = document.getElementById('view3d');
    panel.hidden = !on;
    document.getElementById('profile-body').classList.toggle('with-3d', on);
    document.getElementById('btn3d').classList.toggle('on', on);
    window.dispatchEvent(new Event('resize'));  // the plots take the width that is left
    if (!on) {
      if (window.CvqrnView3d) CvqrnView3d.stop();
      return;
    }
    await load();
    CvqrnView3d.start(engine, panel, {
      onChannel: () => request(),
      onCursor: (distance) => CvqrnPlots.moveCursor(distance),
    });
    request();
  }

  return {
    start(theEngine, theSend) {
      engine = theEngine;
      send = theSend;
      document.getElementById('btn3d').addEventListener('click', () => setOpen(!open));
      window.addEventListener('keydown', (e) => {
        if ((e.ctrlKey || e.metaKey) && !e.altKey && e.key === '3') {
          e.preventDefault();
          setOpen(!open);
        }
      });
      document.addEventListener('cvqrn-cursor', (e) => {
        if (open && window.CvqrnView3d) CvqrnView3d.setCursor(e.detail.distance);
      });
    },
    // A new ride profile (after a load or a run): a new scene when open.
    profileChanged(m) {
      hasTrack = Boolean(m.loaded && !m.loaded.error);
      request();
    },
    show(m) {
      if (open && window.CvqrnView3d) CvqrnView3d.show(m);
    },
  };
})();
